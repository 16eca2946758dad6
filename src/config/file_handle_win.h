// A file handle that closes itself, and a bounded read through it, for the
// Windows file code that needs more than fileio.h offers.
#pragma once
#include <windows.h>

#include <cstddef>
#include <string>

namespace tolvane {

class Handle {
 public:
  explicit Handle(HANDLE h) : h_(h) {}
  ~Handle() { Close(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;

  HANDLE get() const { return h_; }
  bool valid() const { return h_ != INVALID_HANDLE_VALUE; }
  bool Close() {
    if (!valid()) return true;
    const BOOL ok = CloseHandle(h_);
    h_ = INVALID_HANDLE_VALUE;
    return ok != FALSE;
  }

 private:
  HANDLE h_;
};

// Appends the file's bytes to `out` until it holds `limit` bytes or the file
// ends. False on a read error.
bool ReadUpTo(HANDLE file, std::string& out, std::size_t limit);

}  // namespace tolvane
