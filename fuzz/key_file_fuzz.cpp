// The drive watch's key-file reader on arbitrary bytes, and on key files as
// the save writes them: those must give back the cipher they carry.
#include <cstdlib>

#include "fuzz_input.h"
#include "lock/drive_watch.h"
#include "setup/save_config.h"

namespace {

class BytesSource : public tolvane::KeyFileSource {
 public:
  explicit BytesSource(std::string bytes) : bytes_(std::move(bytes)) {}
  bool Attributes(const std::wstring&, std::uint32_t& attributes) override {
    attributes = 0x20;  // an ordinary file
    return true;
  }
  bool Read(const std::wstring&, std::uint32_t& attributes, std::string& bytes, std::size_t limit) override {
    attributes = 0x20;
    bytes = bytes_.substr(0, limit);
    return true;
  }

 private:
  std::string bytes_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto f = tolvane::SplitFields(data, size, 2);
  const std::string& file = f[0];
  const std::string& cipher = f[1];

  BytesSource any(file);
  std::string found;
  std::string text3;
  (void)tolvane::ReadKeyCipher(any, L"E:", found, &text3);
  (void)tolvane::FindKeyword(file, cipher);
  (void)tolvane::CipherMatches(found, cipher);

  // The cipher alphabet is printable ASCII; a cipher never ends in a blank.
  bool printable = !cipher.empty() && cipher.back() != ' ';
  for (char c : cipher) printable = printable && c >= 32 && c <= 126;
  if (printable) {
    BytesSource ours(tolvane::KeyFileBytes(L"E:", cipher));
    if (!tolvane::ReadKeyCipher(ours, L"E:", found) || !tolvane::CipherMatches(found, cipher)) std::abort();
  }
  return 0;
}
