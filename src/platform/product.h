// Product facts shown to the user.
#pragma once

#include "tolvane_version.h"

namespace tolvane {

inline constexpr wchar_t kProductName[] = L"Tolvane";
// The product name with its version, as the setup window and the about box show it.
inline constexpr wchar_t kProductTitle[] = L"Tolvane V" TOLVANE_VERSION_TEXT;
inline constexpr wchar_t kSiteName[] = L"tolvane.org";              // in the start balloon's title
inline constexpr wchar_t kProjectUrl[] = L"https://tolvane.org/";   // sponsor page and about box link

}  // namespace tolvane
