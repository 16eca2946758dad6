#include "app/start.h"

namespace tolvane {

StartAction DecideStart(InstanceClaim claim, Configuration configuration) {
  if (claim == InstanceClaim::HeldByOurs) return StartAction::Forward;
  return configuration == Configuration::None ? StartAction::Setup : StartAction::Lock;
}

}  // namespace tolvane
