// Product facts shown to the user.
#pragma once

namespace tolvane {

inline constexpr wchar_t kProductName[] = L"Tolvane";
inline constexpr wchar_t kSiteName[] = L"tolvane.org";              // in the start balloon's title
inline constexpr wchar_t kProjectUrl[] = L"https://tolvane.org/";   // sponsor page and about box link

}  // namespace tolvane
