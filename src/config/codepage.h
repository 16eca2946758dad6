// Conversion between the program's wide text and code page 936 (GBK) bytes.
// The settings and key files always hold code page 936, whatever the system's
// own ANSI code page is, so the conversion never goes through CP_ACP.
#pragma once
#include <string>
#include <string_view>

namespace tolvane {

// Converts text to code page 936. Returns false when a character has no code
// page 936 form; `out` is then unspecified. Never substitutes '?'.
bool ToCp936(std::wstring_view text, std::string& out);

// Converts code page 936 bytes to wide text. Invalid sequences become U+FFFD.
std::wstring FromCp936(std::string_view bytes);

}  // namespace tolvane
