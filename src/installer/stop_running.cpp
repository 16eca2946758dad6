#include "installer/stop_running.h"

namespace tolvane {
namespace {

wchar_t FoldAscii(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

}  // namespace

bool SameImagePath(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  }
  return true;
}

bool IsCopyToStop(const ProcessEntry& p, std::wstring_view installed_exe, std::uint32_t own_session) {
  return p.session == own_session && !p.image.empty() && !installed_exe.empty() &&
         SameImagePath(p.image, installed_exe);
}

CopySelection SelectCopies(const std::vector<ProcessEntry>& processes, std::wstring_view installed_exe,
                           std::uint32_t own_session) {
  CopySelection s;
  for (const ProcessEntry& p : processes) {
    if (IsCopyToStop(p, installed_exe, own_session)) {
      s.to_stop.push_back(p.id);
    } else if (!p.image.empty() && !installed_exe.empty() && SameImagePath(p.image, installed_exe)) {
      s.elsewhere.push_back(p.id);
    }
  }
  return s;
}

bool StopAllCopies(RunningCopies& copies, const StopLimits& limits) {
  int quiet = 0;
  for (int round = 0; round < limits.max_rounds; ++round) {
    const std::vector<std::uint32_t> found = copies.List();
    if (found.empty()) {
      if (++quiet >= limits.quiet_looks) return true;
      copies.Pause(limits.quiet_pause_ms);
      continue;
    }
    quiet = 0;
    // None of them may end before all of them are held: the first to end
    // would wake its watchdog.
    for (std::uint32_t id : found) copies.Suspend(id);
    for (std::uint32_t id : found) copies.End(id);
    copies.Pause(limits.busy_pause_ms);
  }
  return copies.List().empty();
}

}  // namespace tolvane
