// The key file "\tolvane.com" in the root of a drive, as the drive watch
// looks at it. The system is reached through KeyFileSource; what counts as a
// key file is decided here, from the attributes the source reports.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace tolvane {

// File attribute bits as the platform reports them.
inline constexpr std::uint32_t kAttrHidden = 0x2;
inline constexpr std::uint32_t kAttrSystem = 0x4;
inline constexpr std::uint32_t kAttrDirectory = 0x10;
inline constexpr std::uint32_t kAttrReparsePoint = 0x400;

// A key file is an ordinary file. Hidden and system files count as absent, and
// so does a reparse point: a symbolic link or junction named "tolvane.com"
// could lead the read to any file on the PC, or to a network path, which
// would also hand the user's credentials to that server.
bool IsKeyFileAttributes(std::uint32_t attributes);

class KeyFileSource {
 public:
  virtual ~KeyFileSource() = default;
  // The attributes of the key file itself (a link's own, never its
  // target's); false when there is nothing at the path.
  virtual bool Attributes(const std::wstring& drive, std::uint32_t& attributes) = 0;
  // Opens the key file itself without following a link, reports the
  // attributes of what was opened, and reads at most `limit` bytes of it.
  // False when it cannot be opened or read.
  virtual bool Read(const std::wstring& drive, std::uint32_t& attributes, std::string& bytes, std::size_t limit) = 0;
};

}  // namespace tolvane
