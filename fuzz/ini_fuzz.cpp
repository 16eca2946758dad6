// The settings file's reader and writer on arbitrary bytes: whatever the file
// holds, a value written through Set reads back as the reader bounds it, the
// other keys keep what they read before, and an unchanged value changes
// nothing.
#include <cstdlib>

#include "config/ini.h"
#include "fuzz_input.h"

namespace {

bool IsBlank(char c) {
  const auto b = static_cast<unsigned char>(c);
  return (b >= 0x09 && b <= 0x0D) || b == 0x20 || b == 0x1A;
}

// Values the program can write: no line breaks or NULs, no blanks at either
// end, no quotes around them, at most 127 bytes, so that the reader gives back
// exactly what was written.
bool PlainValue(const std::string& v) {
  if (v.size() > 127) return false;
  for (char c : v) {
    if (c == '\r' || c == '\n' || c == '\0' || static_cast<unsigned char>(c) >= 0x80) return false;
  }
  if (!v.empty() && (IsBlank(v.front()) || IsBlank(v.back()))) return false;
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) return false;
  return true;
}

bool PlainName(const std::string& k) {
  if (k.empty() || k.size() > 32) return false;
  for (char c : k) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (!ok) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto f = tolvane::SplitFields(data, size, 4);
  const std::string& file = f[0];
  const std::string& key = f[1];
  const std::string& other = f[2];
  const std::string& value = f[3];

  tolvane::IniText ini(file);
  (void)ini.Get("Option", other);
  // The file as any rewrite lays it out. A rewrite can itself move keys, as
  // the platform's writer does (a "[]" header is not written back, so its keys
  // join the section above): the other keys are compared with this form.
  tolvane::IniText normal(file);
  normal.Set("fuzz probe", "k", "v");
  const std::string other_before = normal.Get("Option", other);
  (void)ini.Get(key, other, 1 + (size % 200));

  ini.Set("Option", key, value);
  const std::string written = ini.Serialize();
  // A NUL inside a line hides the rest of the line from the platform's
  // reader, and the rewritten file no longer has it: names and values that
  // ran up to a NUL can read differently once the file has been rewritten,
  // as with the platform's own writer. The properties hold for text files.
  if (file.find('\0') == std::string::npos && PlainName(key) && PlainName(other) && PlainValue(value)) {
    if (ini.Get("Option", key) != value) std::abort();
    const bool same_key = tolvane::IniText("[x]\r\n" + key + "=1\r\n").Get("x", other) == "1";
    if (!same_key && ini.Get("Option", other) != other_before) std::abort();
    // Writing the same value again leaves the bytes alone.
    tolvane::IniText again(written);
    again.Set("Option", key, value);
    if (again.Serialize() != written) std::abort();
  }
  return 0;
}
