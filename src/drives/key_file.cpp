#include "drives/key_file.h"

namespace tolvane {

bool IsKeyFileAttributes(std::uint32_t attributes) {
  return (attributes & (kAttrHidden | kAttrSystem | kAttrDirectory | kAttrReparsePoint)) == 0;
}

}  // namespace tolvane
