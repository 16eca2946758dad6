// The system's answers about drive letters, for the drive list and the
// lock window's drive watch.
#pragma once
#include "setup/drive_list.h"

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

}  // namespace tolvane
