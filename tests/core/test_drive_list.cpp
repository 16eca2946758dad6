#include <gtest/gtest.h>

#include <map>

#include "drives/drive_list.h"
#include "setup/status_line.h"

namespace tolvane {
namespace {

struct SizeCase {
  std::uint64_t n;
  const wchar_t* text;
};

TEST(SizeText, UnitBoundariesAndRounding) {
  const NumberFormat nf;
  const SizeCase cases[] = {
      {1, L"1B"},
      {1023, L"1,023B"},
      {1024, L"1.00 KB"},
      {1536, L"1.50 KB"},
      {1048575, L"1,024.00 KB"},  // rounds up but stays in the KB row
      {1048576, L"1.00 MB"},
      {1073741823, L"1,024.00 MB"},
      {1073741824, L"1.00 GB"},
      {1610612736, L"1.50 GB"},     // 1536 MB
      {1073217536, L"1,023.50 MB"},
      {1152, L"1.13 KB"},  // exactly 1.125: half rounds away from zero
      {1099511627776ull * 2, L"2,048.00 GB"},
      {UINT64_MAX, L"17,179,869,184.00 GB"},
  };
  for (const auto& c : cases) EXPECT_EQ(SizeText(c.n, nf), c.text) << "n=" << c.n;
}

TEST(SizeText, UsesLocalePunctuation) {
  NumberFormat german;
  german.decimal = L",";
  german.thousand = L".";
  EXPECT_EQ(SizeText(1073217536, german), L"1.023,50 MB");
  EXPECT_EQ(DriveEntry(L'E', 2147483648ull, NumberFormat{}), L"E: 2.00 GB");
}

// A drive table standing in for the system.
class TableProbe : public DriveProbe {
 public:
  struct Drive {
    bool removable;
    std::uint64_t total;
  };
  std::map<wchar_t, Drive> drives;
  std::vector<wchar_t> asked;

  bool Exists(wchar_t l) override {
    asked.push_back(l);
    return drives.count(l) != 0;
  }
  bool IsRemovable(wchar_t l) override { return drives.at(l).removable; }
  std::uint64_t TotalBytes(wchar_t l) override { return drives.at(l).total; }
};

TEST(ScanRemovableDrives, ListsRemovableDrivesWithMediaInLetterOrder) {
  TableProbe probe;
  probe.drives = {
      {L'A', {true, 1474560}},       // floppy: never looked at
      {L'C', {false, 1ull << 36}},   // system disk
      {L'D', {false, 1ull << 34}},   // fixed disk, also a USB disk that says it is fixed
      {L'E', {true, 1ull << 31}},
      {L'F', {true, 0}},             // empty card-reader slot right after a listed drive
      {L'G', {true, 1023}},
      {L'Z', {true, 1048576}},
  };
  const auto list = ScanRemovableDrives(probe, NumberFormat{});
  EXPECT_EQ(list, (std::vector<std::wstring>{L"E: 2.00 GB", L"G: 1,023B", L"Z: 1.00 MB"}));
  ASSERT_FALSE(probe.asked.empty());
  EXPECT_EQ(probe.asked.front(), L'D');
  EXPECT_EQ(probe.asked.back(), L'Z');
  EXPECT_EQ(probe.asked.size(), 23u);
}

TEST(StatusLine, FollowsTheListOneRefreshLate) {
  const std::wstring chosen = std::wstring(kStatusChosenHead) + L"E:";
  struct Case {
    std::wstring current;
    bool list_empty;
    std::wstring chosen_drive;
    std::wstring expected;
  } cases[] = {
      {kStatusChoose, true, L"", kStatusNoDrive},
      {kStatusNoDrive, false, L"", kStatusChoose},
      {chosen, false, L"E:", chosen},                 // a choice stays while drives are listed
      {chosen, true, L"E:", kStatusNoDrive},          // ... until the list is found empty
      {kStatusNoDrive, false, L"E:", kStatusChoose},  // and is not brought back afterwards
      {chosen, false, L"F:", kStatusChoose},
  };
  for (const auto& c : cases) EXPECT_EQ(RefreshedStatusLine(c.current, c.list_empty, c.chosen_drive), c.expected);
}

}  // namespace
}  // namespace tolvane
