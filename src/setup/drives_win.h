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

// The user's decimal and thousands separators.
NumberFormat UserNumberFormat();

}  // namespace tolvane
