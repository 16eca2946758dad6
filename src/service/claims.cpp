#include "service/claims.h"

#include <stdexcept>
#include <utility>
#include <vector>

#include "config/cipher.h"
#include "config/codepage.h"
#include "config/settings.h"
#include "lock/drive_watch.h"
#include "lock/password_box.h"
#include "setup/save_config.h"

namespace tolvane {

StoredSecrets SecretsOfNameValue(std::wstring_view name_value) {
  StoredSecrets s;
  s.cipher = CipherOfNameValue(name_value);
  if (s.cipher.empty()) return s;
  try {
    s.password = FromCp936(DecipherPassword(s.cipher));
  } catch (const std::overflow_error&) {
    // A value the lock could not decipher either: no password opens it, the
    // key still can.
    s.password.clear();
  }
  return s;
}

ClaimChecker::ClaimChecker(StoredSecrets secrets) : secrets_(std::move(secrets)) {}

bool ClaimChecker::Verify(const GuardMessage& claim, DriveProbe& probe, KeyFileSource& keys) const {
  if (!configured()) return false;
  switch (claim.request) {
    case GuardRequest::LockUp:
    case GuardRequest::Start:
      return false;
    case GuardRequest::KeyDrive:
      return KeyOpens(claim.value, probe, keys);
    case GuardRequest::UnlockPassword:
    case GuardRequest::SetupPassword:
      return PasswordOpens(claim.value, secrets_.password);
  }
  return false;
}

bool ClaimChecker::KeyOpens(const std::wstring& drive, DriveProbe& probe, KeyFileSource& keys) const {
  // The named drive must be one the lock's watch lists, not any path that
  // ends in a key file: a folder, a fixed disk or a network share the user
  // can write to would let anyone make a key.
  bool listed = false;
  for (const std::wstring& entry : ScanRemovableDrives(probe, NumberFormat{})) {
    if (DriveOfEntry(entry) == drive) {
      listed = true;
      break;
    }
  }
  if (!listed) return false;
  std::string cipher;
  return CheckKeyFile(keys, drive, secrets_.cipher, cipher) == SlotOutcome::Match;
}

GuardSettings GuardSettingsOf(SettingsRead read, const std::string& bytes) {
  GuardSettings g;
  const Configuration c = ConfigurationIn(read, bytes);
  g.configured = c != Configuration::None;
  if (c == Configuration::Present) g.checker = ClaimChecker(SecretsOfNameValue(OptionIn(bytes, kSettingsSection, L"name")));
  return g;
}

}  // namespace tolvane
