// A drive probe that sees one 2 GiB removable stick as E: and nothing else,
// for the Windows tests that hand the lock a stand-in drive system.
#pragma once
#include <cstdint>

#include "drives/drive_list.h"

namespace tolvane {

class OneStickProbe : public DriveProbe {
 public:
  bool Exists(wchar_t l) override { return l == L'E'; }
  bool IsRemovable(wchar_t l) override { return l == L'E'; }
  std::uint64_t TotalBytes(wchar_t) override { return 2ull << 30; }
};

}  // namespace tolvane
