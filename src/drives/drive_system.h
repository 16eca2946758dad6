// The drives as the windows reach them. Each scan takes a fresh probe, since
// the system's answer to "which letters exist" is read when the probe is made.
// The scans run on a worker thread: an implementation must allow that.
#pragma once
#include <memory>

#include "drives/drive_list.h"
#include "drives/key_file.h"

namespace tolvane {

class DriveSystem {
 public:
  virtual ~DriveSystem() = default;
  virtual std::unique_ptr<DriveProbe> NewProbe() = 0;
  virtual std::unique_ptr<KeyFileSource> NewKeyFiles() = 0;
};

}  // namespace tolvane
