#include <gtest/gtest.h>

#include "lock/device_notice.h"

namespace tolvane {
namespace {

constexpr std::uint32_t Letter(char l) { return 1u << (l - 'A'); }

TEST(NoticeWakesDriveWatch, OnlyVolumesOnWatchedLettersComingOrGoing) {
  const struct {
    const char* what;
    DeviceNotice notice;
    bool wakes;
  } cases[] = {
      {"key drive arrives", {kDeviceArrival, 20, kDeviceTypeVolume, Letter('E')}, true},
      {"drive pulled", {kDeviceRemoveComplete, 20, kDeviceTypeVolume, Letter('E')}, true},
      {"two letters, one watched", {kDeviceArrival, 20, kDeviceTypeVolume, Letter('C') | Letter('Z')}, true},
      {"last letter", {kDeviceArrival, 18, kDeviceTypeVolume, Letter('Z')}, true},
      {"A: to C: are never watched", {kDeviceArrival, 20, kDeviceTypeVolume, Letter('A') | Letter('C')}, false},
      {"no letter", {kDeviceArrival, 20, kDeviceTypeVolume, 0}, false},
      {"bits above Z:", {kDeviceArrival, 20, kDeviceTypeVolume, 0xFC000000u}, false},
      {"a port, not a volume", {kDeviceArrival, 20, 3, Letter('E')}, false},
      {"record too short to hold a mask", {kDeviceArrival, 12, kDeviceTypeVolume, Letter('E')}, false},
      {"no record (devnodes changed)", {0x0007, 0, 0, 0}, false},
      {"removal still pending", {0x8003, 20, kDeviceTypeVolume, Letter('E')}, false},
      {"query remove", {0x8001, 20, kDeviceTypeVolume, Letter('E')}, false},
  };
  for (const auto& c : cases) EXPECT_EQ(NoticeWakesDriveWatch(c.notice), c.wakes) << c.what;
}

}  // namespace
}  // namespace tolvane
