#include "lock/key_files_win.h"

#include <windows.h>

#include "config/fileio.h"
#include "config/settings.h"
#include "setup/drives_win.h"

namespace tolvane {

bool SystemKeyFiles::Exists(const std::wstring& drive) {
  QuietDriveErrors quiet;
  return IsOrdinaryFile(KeyFilePath(drive));
}

bool SystemKeyFiles::Read(const std::wstring& drive, std::string& bytes, std::size_t limit) {
  QuietDriveErrors quiet;
  return ReadFileBytes(KeyFilePath(drive), bytes, limit);
}

}  // namespace tolvane
