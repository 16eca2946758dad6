// The system's answers about drive letters and key files, for the setup
// window's drive list and the lock window's drive watch.
#pragma once
#include <windows.h>

#include <memory>

#include "drives/drive_system.h"
#include "drives/probe_worker.h"
#include "platform/message_guard_win.h"

namespace tolvane {

class SystemDriveProbe : public DriveProbe {
 public:
  SystemDriveProbe();
  bool Exists(wchar_t letter) override;
  bool IsRemovable(wchar_t letter) override;
  std::uint64_t TotalBytes(wchar_t letter) override;

 private:
  unsigned long logical_drives_;
};

// CreateFileW, or a stand-in under test.
using FileOpener = HANDLE(WINAPI*)(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                   DWORD disposition, DWORD flags, HANDLE template_file);

class SystemKeyFiles : public KeyFileSource {
 public:
  explicit SystemKeyFiles(FileOpener open = CreateFileW) : open_(open) {}
  bool Attributes(const std::wstring& drive, std::uint32_t& attributes) override;
  bool Read(const std::wstring& drive, std::uint32_t& attributes, std::string& bytes, std::size_t limit) override;

 private:
  FileOpener open_;
};

// The real drives; shared, since abandoned probes may still use it.
std::shared_ptr<DriveSystem> SystemDrives();

// Turns the system's "There is no disk in the drive" boxes off for the calling
// thread while a drive is touched: an empty card-reader slot, or a drive
// pulled out between the listing and the read, must fail quietly, above all
// under the lock window.
class QuietDriveErrors {
 public:
  QuietDriveErrors();
  ~QuietDriveErrors();
  QuietDriveErrors(const QuietDriveErrors&) = delete;
  QuietDriveErrors& operator=(const QuietDriveErrors&) = delete;

 private:
  unsigned long old_ = 0;
};

// The user's decimal and thousands separators.
NumberFormat UserNumberFormat();

// A worker's ready call that posts `message` to `window`, marked as the
// program's own: the window then takes the result on its own thread.
inline ProbeThread::Ready PostTo(HWND window, UINT message) {
  return [window, message] { PostOwn(window, message); };
}

}  // namespace tolvane
