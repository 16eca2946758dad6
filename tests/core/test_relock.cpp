#include <gtest/gtest.h>

#include <map>

#include "config/ini.h"
#include "config/settings.h"
#include "lock/relock.h"

namespace tolvane {
namespace {

TEST(Relock, OnlyOneSwitchesItOn) {
  EXPECT_TRUE(RelockOn(L"1"));
  // Files of earlier versions have no key at all; anything but "1" is off.
  for (const wchar_t* v : {L"", L"0", L"true", L"True", L"yes", L"01", L"1 ", L" 1", L"2"}) {
    EXPECT_FALSE(RelockOn(v)) << v;
  }
  EXPECT_TRUE(RelockOn(RelockValue(true)));
  EXPECT_FALSE(RelockOn(RelockValue(false)));
}

TEST(Relock, WhatFollowsAnUnlock) {
  struct Case {
    bool relock;
    WayOut way;
    bool end_program;
    bool show_setup;
    const wchar_t* watch;
  };
  const Case cases[] = {
      // Without relock every unlock ends the program, as it always has;
      // the setup password leads to the setup window either way.
      {false, WayOut::KeyDrive, true, false, L""},
      {false, WayOut::UnlockPassword, true, false, L""},
      {false, WayOut::SetupPassword, false, true, L""},
      // With relock the program stays; only the key names a drive to watch.
      {true, WayOut::KeyDrive, false, false, L"H:"},
      {true, WayOut::UnlockPassword, false, false, L""},
      {true, WayOut::SetupPassword, false, true, L""},
  };
  for (const Case& c : cases) {
    const AfterUnlock next = DecideAfterUnlock(c.relock, c.way, L"H:");
    EXPECT_EQ(next.end_program, c.end_program) << c.relock << static_cast<int>(c.way);
    EXPECT_EQ(next.show_setup, c.show_setup) << c.relock << static_cast<int>(c.way);
    EXPECT_EQ(next.watch_drive, c.watch) << c.relock << static_cast<int>(c.way);
  }
}

WatchTick Tick(std::initializer_list<const wchar_t*> listed, int matched = -1) {
  WatchTick t;
  for (const wchar_t* e : listed) t.list.emplace_back(e);
  for (std::size_t i = 0; i < t.list.size() && i < kWatchSlots; ++i) t.slots[i].drive = t.list[i].substr(0, 2);
  t.matched = matched;
  return t;
}

TEST(Relock, TheWatchedKeyDriveLocksWhenItGoes) {
  struct Case {
    const wchar_t* watched;
    WatchTick tick;
    bool lock;
    const wchar_t* watched_after;
  };
  const Case cases[] = {
      {L"E:", Tick({L"E: 2.00 GB"}, 0), false, L"E:"},
      // Still there, even when its key file no longer reads as the key.
      {L"E:", Tick({L"E: 2.00 GB"}), false, L"E:"},
      {L"E:", Tick({}), true, L"E:"},
      // Another drive with the key does not stand in for the one pulled.
      {L"E:", Tick({L"F: 1.00 GB"}, 0), true, L"E:"},
      // A letter that only starts like the watched one.
      {L"E:", Tick({L"EE 1.00 GB"}), true, L"E:"},
      // Opened by the password: the first key seen becomes the watched one,
      // and nothing locks before a key has been seen.
      {L"", Tick({}), false, L""},
      {L"", Tick({L"D: 1.00 GB", L"G: 8.00 GB"}, 1), false, L"G:"},
      {L"", Tick({L"D: 1.00 GB"}), false, L""},
  };
  for (const Case& c : cases) {
    const RelockStep step = WatchWhileUnlocked(c.watched, c.tick);
    EXPECT_EQ(step.lock, c.lock) << c.watched << " / " << c.tick.list.size();
    EXPECT_EQ(step.watched, c.watched_after) << c.watched << " / " << c.tick.list.size();
  }
}

// A file with the new key reads as before for every other key, and a key
// file that carries it (a copy of such a settings file) still unlocks.
TEST(Relock, NewKeyLeavesTheFileFormatAlone) {
  const std::string before = "[Option]\r\nlabel=lunch\r\ndrive=E:\r\nname=g%q.0tC\r\n";
  IniText ini(before);
  ini.Set("Option", "relock", "1");
  EXPECT_EQ(ini.Serialize(), before + "relock=1\r\n");
  for (const char* key : {"label", "drive", "name"}) EXPECT_EQ(ini.Get("Option", key), IniText(before).Get("Option", key));
  EXPECT_EQ(ini.Get("Option", "relock"), "1");

  class OneKeyFile : public KeyFileSource {
   public:
    explicit OneKeyFile(std::string b) : bytes_(std::move(b)) {}
    bool Attributes(const std::wstring&, std::uint32_t& attributes) override {
      attributes = 0x20;  // an ordinary file, archive bit set
      return true;
    }
    bool Read(const std::wstring&, std::uint32_t& attributes, std::string& out, std::size_t limit) override {
      attributes = 0x20;
      out = bytes_.substr(0, limit);
      return true;
    }

   private:
    std::string bytes_;
  } key_file(ini.Serialize());
  std::string cipher;
  ASSERT_TRUE(ReadKeyCipher(key_file, L"E:", cipher));
  EXPECT_TRUE(CipherMatches(cipher, "g%q.0tC"));
}

}  // namespace
}  // namespace tolvane
