// The guardian service's check of a way-out claim. This is the one place of
// the service that holds the stored secrets (the key's cipher and the
// deciphered password) and compares a claim with them, so that the secrets
// can later be kept where only the service reads them without any other part
// of the service changing.
//
// A key claim names a drive: it is believed only if that drive is one the
// lock's drive watch would list (a removable drive D: to Z: with a medium)
// and its key file passes the watch's own check. A password claim carries
// what was typed, compared as the lock's password box compares it.
#pragma once
#include <string>
#include <string_view>

#include "config/settings.h"
#include "drives/drive_list.h"
#include "drives/key_file.h"
#include "lock/guard_message.h"

namespace tolvane {

struct StoredSecrets {
  std::string cipher;     // the key's cipher, as the key file must carry it
  std::wstring password;  // the unlock (and setup) password
};

// The secrets behind the settings file's "name" value; both empty when the
// value holds none.
StoredSecrets SecretsOfNameValue(std::wstring_view name_value);

class ClaimChecker {
 public:
  explicit ClaimChecker(StoredSecrets secrets);

  // A lock is configured: there is a key a claim could be checked against.
  bool configured() const { return !secrets_.cipher.empty(); }

  // True only for a proven way out; LockUp is no claim and is never true.
  bool Verify(const GuardMessage& claim, DriveProbe& probe, KeyFileSource& keys) const;

 private:
  bool KeyOpens(const std::wstring& drive, DriveProbe& probe, KeyFileSource& keys) const;

  StoredSecrets secrets_;
};

// What the service makes of one read of the settings file. A configuration
// makes a lock due. A file that is there but cannot be read (held open
// without sharing, its permissions changed) may hold one: it keeps the
// service guarding, with nothing a claim could be proven against. Only a
// file that is really not there means "not configured".
struct GuardSettings {
  bool configured = false;
  ClaimChecker checker{StoredSecrets{}};
};
GuardSettings GuardSettingsOf(SettingsRead read, const std::string& bytes);

}  // namespace tolvane
