// Entry point: the program starts by loading the setup window, which decides
// whether to lock the screen.
#include <windows.h>

#include "app/app_win.h"
#include "appearance/form5_win.h"
#include "setup/form1_win.h"

namespace tolvane {
App& TheApp() {
  static App app;
  return app;
}
}  // namespace tolvane

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  using namespace tolvane;
  // Removable drives without a medium must never raise "no disk" boxes.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);

  static Form1 form1;
  TheApp().form1 = &form1;
  if (!form1.Load()) return 1;

  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    // Tab and the arrow keys move between the controls of the setup and
    // appearance windows. The lock window stays out of this: its keys go to
    // its own handlers.
    HWND root = msg.hwnd ? GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
    if (root && (root == form1.hwnd() || (TheApp().form5 && root == TheApp().form5->hwnd())) &&
        IsDialogMessageW(root, &msg)) {
      continue;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return static_cast<int>(msg.wParam);
}
