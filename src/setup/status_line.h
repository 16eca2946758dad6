// The setup window's status line under the drive list.
#pragma once
#include <string>

namespace tolvane {

inline constexpr wchar_t kStatusChoose[] = L"请在上面左边的列表框中选择需要加密的U盘！";
inline constexpr wchar_t kStatusNoDrive[] = L"暂时未发现可移动磁盘,请插入！";
inline constexpr wchar_t kStatusChosenHead[] = L"您选择了可移动磁盘：";

// The status line after a refresh, judged on the list as the previous scan
// left it: a chosen drive's line stays until the list is found empty.
std::wstring RefreshedStatusLine(const std::wstring& current, bool list_empty, const std::wstring& chosen_drive);

}  // namespace tolvane
