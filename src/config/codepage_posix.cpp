// Code page 936 through iconv for the native test build. glibc's "CP936" is
// Microsoft's table (0x80 is the euro sign), so both builds agree on every
// character the program writes.
#include <iconv.h>

#include <cerrno>
#include <string>

#include "config/codepage.h"

namespace tolvane {

namespace {

class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (ok()) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // Converts the whole input or fails; never substitutes.
  bool Convert(const char* in, std::size_t in_bytes, std::string& out) {
    out.clear();
    if (!ok()) return false;
    char* src = const_cast<char*>(in);  // iconv's prototype is not const-correct
    std::size_t src_left = in_bytes;
    char chunk[256];
    while (src_left > 0) {
      char* dst = chunk;
      std::size_t dst_left = sizeof chunk;
      const std::size_t rc = iconv(cd_, &src, &src_left, &dst, &dst_left);
      out.append(chunk, sizeof chunk - dst_left);
      if (rc == static_cast<std::size_t>(-1) && errno != E2BIG) return false;
    }
    return true;
  }

 private:
  iconv_t cd_;
};

}  // namespace

bool ToCp936(std::wstring_view text, std::string& out) {
  Converter conv("CP936", "WCHAR_T");
  return conv.Convert(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t), out);
}

bool DecodeCp936Strict(std::string_view bytes, std::wstring& out) {
  out.clear();
  Converter conv("WCHAR_T", "CP936");
  std::string raw;
  if (!conv.Convert(bytes.data(), bytes.size(), raw)) return false;
  out.assign(reinterpret_cast<const wchar_t*>(raw.data()), raw.size() / sizeof(wchar_t));
  return true;
}

}  // namespace tolvane
