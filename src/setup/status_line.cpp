#include "setup/status_line.h"

namespace tolvane {

std::wstring RefreshedStatusLine(const std::wstring& current, bool list_empty, const std::wstring& chosen_drive) {
  if (list_empty) return kStatusNoDrive;
  if (current != std::wstring(kStatusChosenHead) + chosen_drive) return kStatusChoose;
  return current;
}

}  // namespace tolvane
