#include "lock/device_notice.h"

namespace tolvane {

namespace {
// D: to Z:, the letters of the drive watch.
constexpr std::uint32_t kWatchedLetters = ((1u << 26) - 1) & ~((1u << 3) - 1);
}  // namespace

bool NoticeWakesDriveWatch(const DeviceNotice& notice) {
  if (notice.event != kDeviceArrival && notice.event != kDeviceRemoveComplete) return false;
  if (notice.record_size < kVolumeRecordSize || notice.device_type != kDeviceTypeVolume) return false;
  return (notice.unit_mask & kWatchedLetters) != 0;
}

}  // namespace tolvane
