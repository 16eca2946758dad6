// The save and the lock through the program's own functions and real files:
// for any settings file the save may find, any appearance values the editor
// accepts and any password the save accepts, the key file it writes opens the
// lock that the settings file starts, and the password deciphers back.
#include <stdlib.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "appearance/appearance.h"
#include "config/cipher.h"
#include "config/codepage.h"
#include "config/fileio.h"
#include "config/settings.h"
#include "fuzz_input.h"
#include "lock/drive_watch.h"
#include "setup/save_config.h"

namespace fs = std::filesystem;

namespace {

class FileSource : public tolvane::KeyFileSource {
 public:
  explicit FileSource(std::wstring path) : path_(std::move(path)) {}
  bool Attributes(const std::wstring&, std::uint32_t& attributes) override {
    if (!tolvane::PathExists(path_)) return false;
    attributes = tolvane::IsOrdinaryFile(path_) ? 0x20 : tolvane::kAttrHidden;
    return true;
  }
  bool Read(const std::wstring& drive, std::uint32_t& attributes, std::string& bytes, std::size_t limit) override {
    if (!Attributes(drive, attributes)) return false;
    return tolvane::ReadFileBytes(path_, bytes, limit);
  }

 private:
  std::wstring path_;
};

const fs::path& WorkDir() {
  static const fs::path dir = [] {
    char pattern[] = "/tmp/tolvane-fuzz-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (!made) std::abort();
    tolvane::SetSettingsFolderForTests(fs::path(made).wstring());
    return fs::path(made);
  }();
  return dir;
}

std::wstring Wide(const std::string& bytes) { return tolvane::FromCp936(bytes); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const fs::path& dir = WorkDir();
  const auto f = tolvane::SplitFields(data, size, 2 + tolvane::kAppearanceKeyCount);
  const std::string& settings = f[0];
  const std::wstring password = Wide(f[1]);

  const fs::path settings_path = dir / "vemro.qarn";
  const fs::path key_path = dir / "tolvane.com";
  std::error_code ec;
  fs::remove(key_path, ec);
  {
    std::ofstream out(settings_path, std::ios::binary | std::ios::trunc);
    out << settings;
  }
  tolvane::AppearanceValues values;
  for (std::size_t i = 0; i < values.size(); ++i) values[i] = Wide(f[2 + i]);
  if (tolvane::CheckAppearanceValues(values).problem == tolvane::ValueProblem::None) {
    if (!tolvane::WriteAppearance(values)) std::abort();
  }

  const tolvane::SaveCheck check = tolvane::CheckSave(L"E:", password, password);
  if (check.refusal != tolvane::SaveRefusal::None) return 0;
  const tolvane::SaveResult result = tolvane::SaveConfiguration(L"E:", check.cipher, key_path.wstring());
  if (result.outcome != tolvane::SaveOutcome::Saved) std::abort();

  const std::string stored =
      tolvane::CipherOfNameValue(tolvane::ReadOption(tolvane::kSettingsSection, L"name"));
  FileSource source(key_path.wstring());
  std::string found;
  if (!tolvane::ReadKeyCipher(source, L"E:", found) || !tolvane::CipherMatches(found, stored)) std::abort();
  if (tolvane::FromCp936(tolvane::DecipherPassword(stored)) != password) std::abort();
  return 0;
}
