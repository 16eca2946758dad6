#include "lock/key_files_win.h"

#include <windows.h>

#include "config/fileio.h"
#include "config/settings.h"

namespace tolvane {
namespace {

// A drive pulled out between the listing and the read, or a card reader
// slot that lost its card, must not raise the system's "no disk" box over
// the lock window: critical errors are off for this thread while the drive
// is touched.
class QuietFileErrors {
 public:
  QuietFileErrors() { SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &old_); }
  ~QuietFileErrors() { SetThreadErrorMode(old_, nullptr); }
  QuietFileErrors(const QuietFileErrors&) = delete;
  QuietFileErrors& operator=(const QuietFileErrors&) = delete;

 private:
  DWORD old_ = 0;
};

}  // namespace

bool SystemKeyFiles::Exists(const std::wstring& drive) {
  QuietFileErrors quiet;
  return IsOrdinaryFile(KeyFilePath(drive));
}

bool SystemKeyFiles::Read(const std::wstring& drive, std::string& bytes, std::size_t limit) {
  QuietFileErrors quiet;
  return ReadFileBytes(KeyFilePath(drive), bytes, limit);
}

}  // namespace tolvane
