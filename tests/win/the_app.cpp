// The program's App object for the Windows test binary. The program defines
// it beside its entry point, which the tests do not link; forms under test
// count themselves in and out of this one.
#include "platform/app_win.h"

namespace tolvane {

App& TheApp() {
  static App app;
  return app;
}

}  // namespace tolvane
