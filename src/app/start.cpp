#include "app/start.h"

namespace tolvane {

StartAction DecideStart(InstanceClaim claim, Configuration configuration, bool installed_start) {
  if (claim == InstanceClaim::HeldByOurs) return StartAction::Forward;
  if (configuration == Configuration::None) return StartAction::Setup;
  return installed_start ? StartAction::AskGuard : StartAction::Lock;
}

}  // namespace tolvane
