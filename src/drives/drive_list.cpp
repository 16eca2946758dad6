#include "drives/drive_list.h"

#include <cmath>

namespace tolvane {
namespace {

std::wstring Grouped(std::uint64_t v, const std::wstring& sep) {
  std::wstring digits = std::to_wstring(v);
  std::wstring out;
  const std::size_t n = digits.size();
  for (std::size_t i = 0; i < n; ++i) {
    if (i > 0 && (n - i) % 3 == 0) out += sep;
    out += digits[i];
  }
  return out;
}

// Two decimals, rounded half away from zero as the platform's number
// formatting does, so 2^30 - 1 bytes reads 1,024.00 MB.
std::wstring TwoDecimals(std::uint64_t n, std::uint64_t unit, const NumberFormat& nf) {
  // Exact integer arithmetic, hundredths = round(n * 100 / unit), done on the
  // remainder so nothing overflows 64 bits (the release build is 32-bit).
  std::uint64_t whole = n / unit;
  const std::uint64_t rem100 = (n % unit) * 100;  // below 2^37
  std::uint64_t frac = rem100 / unit;
  if ((rem100 % unit) * 2 >= unit) ++frac;
  if (frac == 100) {
    ++whole;
    frac = 0;
  }
  std::wstring out = Grouped(whole, nf.thousand) + nf.decimal;
  out += static_cast<wchar_t>(L'0' + frac / 10);
  out += static_cast<wchar_t>(L'0' + frac % 10);
  return out;
}

}  // namespace

std::wstring SizeText(std::uint64_t n, const NumberFormat& nf) {
  constexpr std::uint64_t kKB = 1024, kMB = kKB * 1024, kGB = kMB * 1024;
  if (n >= kGB) return TwoDecimals(n, kGB, nf) + L" GB";
  if (n >= kMB) return TwoDecimals(n, kMB, nf) + L" MB";
  if (n >= kKB) return TwoDecimals(n, kKB, nf) + L" KB";
  return Grouped(n, nf.thousand) + L"B";
}

std::wstring DriveEntry(wchar_t letter, std::uint64_t n, const NumberFormat& nf) {
  std::wstring out(1, letter);
  out += L": ";
  out += SizeText(n, nf);
  return out;
}

std::vector<std::wstring> ScanRemovableDrives(DriveProbe& probe, const NumberFormat& nf) {
  std::vector<std::wstring> entries;
  for (wchar_t letter = L'D'; letter <= L'Z'; ++letter) {
    if (!probe.Exists(letter) || !probe.IsRemovable(letter)) continue;
    const std::uint64_t total = probe.TotalBytes(letter);
    if (total == 0) continue;  // empty card-reader slot or unreadable size
    entries.push_back(DriveEntry(letter, total, nf));
  }
  return entries;
}

std::wstring DriveOfEntry(const std::wstring& entry) { return entry.substr(0, 2); }

}  // namespace tolvane
