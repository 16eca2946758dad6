#include "setup/drives_win.h"

#include <windows.h>

namespace tolvane {
namespace {

std::wstring Root(wchar_t letter) { return std::wstring(1, letter) + L":\\"; }

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

NumberFormat UserNumberFormat() {
  NumberFormat nf;
  wchar_t buf[8];
  if (GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_SDECIMAL, buf, 8) > 0) nf.decimal = buf;
  if (GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_STHOUSAND, buf, 8) > 0) nf.thousand = buf;
  return nf;
}

}  // namespace tolvane
