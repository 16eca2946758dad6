// Drive letters and key files standing in for the system, for the tests of
// the lock's drive watch and of the service's key check.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "drives/drive_list.h"
#include "drives/key_file.h"

namespace tolvane {

// Drive letters standing in for the system.
class Drives : public DriveProbe {
 public:
  std::map<wchar_t, std::uint64_t> removable;  // letter -> total bytes (0: no medium)
  std::map<wchar_t, std::uint64_t> fixed;

  bool Exists(wchar_t l) override { return removable.count(l) || fixed.count(l); }
  bool IsRemovable(wchar_t l) override { return removable.count(l) != 0; }
  std::uint64_t TotalBytes(wchar_t l) override { return removable.count(l) ? removable[l] : fixed[l]; }
};

// Key files standing in for the drives' roots.
class KeyFiles : public KeyFileSource {
 public:
  struct File {
    std::string bytes;
    bool readable = true;
    std::uint32_t attributes = 0x20;       // archive: an ordinary file
    std::uint32_t opened_attributes = 0x20;  // of what the read opens
  };
  std::map<std::wstring, File> files;
  std::vector<std::wstring> reads;

  bool Attributes(const std::wstring& drive, std::uint32_t& attributes) override {
    if (!files.count(drive)) return false;
    attributes = files[drive].attributes;
    return true;
  }
  bool Read(const std::wstring& drive, std::uint32_t& attributes, std::string& bytes, std::size_t limit) override {
    reads.push_back(drive);
    const File& f = files.at(drive);
    if (!f.readable) return false;
    attributes = f.opened_attributes;
    bytes = f.bytes.substr(0, limit);
    return true;
  }
};

}  // namespace tolvane
