// Entry point: the program starts by loading the setup window, which decides
// whether to lock the screen.
#include <windows.h>
#include <commctrl.h>

#include "app/app_win.h"
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
  INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&icc);

  static Form1 form1;
  TheApp().form1 = &form1;
  if (!form1.Load()) return 1;

  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (form1.hwnd() && IsDialogMessageW(form1.hwnd(), &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return static_cast<int>(msg.wParam);
}
