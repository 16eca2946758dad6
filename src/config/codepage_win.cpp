#include <windows.h>

#include <climits>
#include <string>

#include "config/codepage.h"

namespace tolvane {

namespace {
// Fixed, not CP_ACP: the files hold 936 whatever the system's own code page is.
constexpr UINT kCodePage = 936;
}  // namespace

bool ToCp936(std::wstring_view text, std::string& out) {
  out.clear();
  if (text.empty()) return true;
  if (text.size() > static_cast<std::size_t>(INT_MAX / 2)) return false;
  const int in_len = static_cast<int>(text.size());
  // No best fit: a character without its own 936 form must be refused, not
  // quietly replaced by a look-alike or '?' that would then be stored.
  BOOL used_default = FALSE;
  const int n = WideCharToMultiByte(kCodePage, WC_NO_BEST_FIT_CHARS, text.data(), in_len, nullptr, 0, nullptr,
                                    &used_default);
  if (n <= 0 || used_default) return false;
  out.resize(static_cast<std::size_t>(n));
  used_default = FALSE;
  const int written = WideCharToMultiByte(kCodePage, WC_NO_BEST_FIT_CHARS, text.data(), in_len, out.data(), n,
                                          nullptr, &used_default);
  return written == n && !used_default;
}

bool DecodeCp936Strict(std::string_view bytes, std::wstring& out) {
  out.clear();
  if (bytes.empty()) return true;
  if (bytes.size() > static_cast<std::size_t>(INT_MAX)) return false;
  const int in_len = static_cast<int>(bytes.size());
  const int n = MultiByteToWideChar(kCodePage, MB_ERR_INVALID_CHARS, bytes.data(), in_len, nullptr, 0);
  if (n <= 0) return false;
  out.resize(static_cast<std::size_t>(n));
  return MultiByteToWideChar(kCodePage, MB_ERR_INVALID_CHARS, bytes.data(), in_len, out.data(), n) == n;
}

}  // namespace tolvane
