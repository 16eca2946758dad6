#include "drives/drives_win.h"

#include <cstdlib>

#include "platform/window_win.h"
#include "config/file_handle_win.h"
#include "config/fileio.h"
#include "config/settings.h"

namespace tolvane {
namespace {

std::wstring Root(wchar_t letter) { return std::wstring(1, letter) + L":\\"; }

class SystemDriveSystem : public DriveSystem {
 public:
  std::unique_ptr<DriveProbe> NewProbe() override { return std::make_unique<SystemDriveProbe>(); }
  std::unique_ptr<KeyFileSource> NewKeyFiles() override { return std::make_unique<SystemKeyFiles>(); }
};

}  // namespace

QuietDriveErrors::QuietDriveErrors() {
  SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &old_);
}
QuietDriveErrors::~QuietDriveErrors() { SetThreadErrorMode(old_, nullptr); }

SystemDriveProbe::SystemDriveProbe() : logical_drives_(GetLogicalDrives()) {}

bool SystemDriveProbe::Exists(wchar_t letter) {
  if (letter < L'A' || letter > L'Z') return false;
  return (logical_drives_ >> (letter - L'A')) & 1u;
}

bool SystemDriveProbe::IsRemovable(wchar_t letter) {
  QuietDriveErrors quiet;
  return GetDriveTypeW(Root(letter).c_str()) == DRIVE_REMOVABLE;
}

std::uint64_t SystemDriveProbe::TotalBytes(wchar_t letter) {
  QuietDriveErrors quiet;
  ULARGE_INTEGER total = {};
  if (!GetDiskFreeSpaceExW(Root(letter).c_str(), nullptr, &total, nullptr)) return 0;
  return total.QuadPart;
}

bool SystemKeyFiles::Attributes(const std::wstring& drive, std::uint32_t& attributes) {
  QuietDriveErrors quiet;
  // Reports a link's own attributes: the last part of the path is not followed.
  const DWORD a = GetFileAttributesW(KeyFilePath(drive).c_str());
  if (a == INVALID_FILE_ATTRIBUTES) return false;
  attributes = a;
  return true;
}

bool SystemKeyFiles::Read(const std::wstring& drive, std::uint32_t& attributes, std::string& bytes,
                          std::size_t limit) {
  QuietDriveErrors quiet;
  bytes.clear();
  // The file may have been swapped for a link since its attributes were
  // looked at: open whatever is there now without following it, and judge
  // the attributes of the very file that is read.
  Handle file(open_(KeyFilePath(drive).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file.valid()) return false;
  BY_HANDLE_FILE_INFORMATION info = {};
  if (!GetFileInformationByHandle(file.get(), &info)) return false;
  attributes = info.dwFileAttributes;
  if (!IsKeyFileAttributes(attributes)) return true;  // nothing of it is read
  return ReadUpTo(file.get(), bytes, limit);
}

#ifdef TOLVANE_TEST_SEAMS
namespace {

// Test builds only (never the release): a file "probe-delay-ms" beside the
// program makes every probe take that long before it asks the system, which
// is how the end-to-end tests stand in for a drive that hangs; Wine offers
// no file or drive that does.
class SlowDrives : public SystemDriveSystem {
 public:
  explicit SlowDrives(DWORD ms) : ms_(ms) {}
  std::unique_ptr<DriveProbe> NewProbe() override {
    Sleep(ms_);
    return SystemDriveSystem::NewProbe();
  }

 private:
  DWORD ms_;
};

std::shared_ptr<DriveSystem> TestDrives() {
  std::string text;
  if (!ReadFileBytes(ProgramFolder() + L"\\probe-delay-ms", text, 16)) return nullptr;
  return std::make_shared<SlowDrives>(static_cast<DWORD>(std::strtoul(text.c_str(), nullptr, 10)));
}

}  // namespace
#endif

std::shared_ptr<DriveSystem> SystemDrives() {
#ifdef TOLVANE_TEST_SEAMS
  static const std::shared_ptr<DriveSystem> test_drives = TestDrives();
  if (test_drives) return test_drives;
#endif
  static const std::shared_ptr<DriveSystem> drives = std::make_shared<SystemDriveSystem>();
  return drives;
}

NumberFormat UserNumberFormat() {
  NumberFormat nf;
  wchar_t buf[8];
  if (GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_SDECIMAL, buf, 8) > 0) nf.decimal = buf;
  if (GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_STHOUSAND, buf, 8) > 0) nf.thousand = buf;
  return nf;
}

}  // namespace tolvane
