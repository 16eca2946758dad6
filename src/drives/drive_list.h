// The list of removable drives shown by the setup window and scanned by the
// lock window's drive watch: which letters are looked at, which drives make
// it into the list, and how their sizes read.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace tolvane {

// The locale's number punctuation. Digits are grouped by three.
struct NumberFormat {
  std::wstring decimal = L".";
  std::wstring thousand = L",";
};

// "1.50 GB", "1,023.50 MB", "1.00 KB", "1,023B". n must be at least 1.
std::wstring SizeText(std::uint64_t n, const NumberFormat& nf);

// "E: 2.00 GB".
std::wstring DriveEntry(wchar_t letter, std::uint64_t n, const NumberFormat& nf);

// What the scan needs to know of a drive letter. The Windows implementation
// asks the system; tests use a table.
class DriveProbe {
 public:
  virtual ~DriveProbe() = default;
  virtual bool Exists(wchar_t letter) = 0;
  virtual bool IsRemovable(wchar_t letter) = 0;
  // Total size in bytes; 0 when there is no medium or the size can't be read.
  virtual std::uint64_t TotalBytes(wchar_t letter) = 0;
};

// Letters D to Z in order; A to C are never looked at (floppies and the
// system drive). Only removable drives with a medium are listed.
std::vector<std::wstring> ScanRemovableDrives(DriveProbe& probe, const NumberFormat& nf);

// The drive part ("E:") of a list entry.
std::wstring DriveOfEntry(const std::wstring& entry);

}  // namespace tolvane
