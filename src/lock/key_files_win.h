// The key files of the drive watch, read from the drives themselves.
#pragma once
#include "lock/drive_watch.h"

namespace tolvane {

class SystemKeyFiles : public KeyFileSource {
 public:
  bool Exists(const std::wstring& drive) override;
  bool Read(const std::wstring& drive, std::string& bytes, std::size_t limit) override;
};

}  // namespace tolvane
