// The forms of the program and its lifetime: every form is created on first
// use and lives until it is unloaded; the program ends when the last form is
// gone or when the code ends it.
#pragma once
#include <windows.h>

namespace tolvane {

class Form1;

struct App {
  Form1* form1 = nullptr;
  int live_forms = 0;

  void FormLoaded() { ++live_forms; }
  void FormUnloaded() {
    if (--live_forms <= 0) PostQuitMessage(0);
  }
};

App& TheApp();

}  // namespace tolvane
