// Which of the system's device-change announcements wake the lock window's
// drive watch at once, instead of at its next one-second tick: a volume that
// arrives (the key drive, or a medium in a card reader) or goes (its message
// line must go with it). The one-second watch stays as the fallback, for
// systems that announce nothing.
#pragma once
#include <cstddef>
#include <cstdint>

namespace tolvane {

// WM_DEVICECHANGE events and the broadcast header's device type, as the
// platform defines them (dbt.h).
inline constexpr unsigned kDeviceArrival = 0x8000;         // DBT_DEVICEARRIVAL
inline constexpr unsigned kDeviceRemoveComplete = 0x8004;  // DBT_DEVICEREMOVECOMPLETE
inline constexpr std::uint32_t kDeviceTypeVolume = 2;      // DBT_DEVTYP_VOLUME

// One announcement as received: the event, and from the broadcast record (when
// there is one of at least `record_size` bytes) its device type and the drive
// letters it names (bit 0 = A:).
struct DeviceNotice {
  unsigned event = 0;
  std::size_t record_size = 0;  // 0: no record came with the event
  std::uint32_t device_type = 0;
  std::uint32_t unit_mask = 0;
};

// The size of the volume record (DEV_BROADCAST_VOLUME): a notice that claims
// less cannot be read as one.
inline constexpr std::size_t kVolumeRecordSize = 18;

// True when the notice is a volume arriving or leaving on one of the letters
// the watch looks at (D to Z).
bool NoticeWakesDriveWatch(const DeviceNotice& notice);

}  // namespace tolvane
