// Entry point: the program starts by loading the setup window, which decides
// whether to lock the screen. The same program also runs as the lock's
// watchdog (see lock/watchdog_win.h).
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "app/start.h"
#include "platform/app_win.h"
#include "platform/instance_win.h"
#include "platform/lazy_dll_win.h"
#include "appearance/form5_win.h"
#include "config/elevated_write.h"
#include "config/elevation_win.h"
#include "drives/probe_worker.h"
#include "lock/process_guard_win.h"
#include "lock/shortcut_guard_win.h"
#include "lock/typed_keys_win.h"
#include "lock/watchdog.h"
#include "lock/guard_link_win.h"
#include "lock/watchdog_win.h"
#include "platform/guard_service_win.h"
#include "platform/window_win.h"
#include "setup/form1_win.h"

namespace tolvane {
App& TheApp() {
  static App app;
  return app;
}

namespace {

// How long a lock restarted by its watchdog waits for the killed instance's
// hold on the session to lapse.
constexpr DWORD kRestartedClaimWaitMs = 5000;

std::vector<std::wstring> Arguments() {
  // The runtime's own split of the command line: shell32's would map a
  // library at every start that the lock otherwise loads only with the tray.
  std::vector<std::wstring> args;
  for (int i = 1; i < __argc && __wargv; ++i) args.emplace_back(__wargv[i]);
  return args;
}

// A later start of the program: the setup window (or the appearance window
// when that is all that is open) comes forward; while locked nothing changes.
void ComeForward() {
  App& app = TheApp();
  if (app.LockActive() || (app.form1 && app.form1->lock_pending())) return;
  if (app.form1 && app.form1->hwnd()) {
    app.form1->ShowNormal();
  } else if (app.form5 && app.form5->hwnd()) {
    app.form5->BringForward();
  }
}

}  // namespace
}  // namespace tolvane

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  using namespace tolvane;
  // Removable drives without a medium must never raise "no disk" boxes.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);

  const std::vector<std::wstring> args = Arguments();
  // The elevated instance that does one settings write for a running copy:
  // before anything else, and nothing else (no window, no single-instance
  // claim, no lock). It stays out of the guard: the user's programs cannot
  // open an elevated process anyway, and a guarded default list in its token
  // would land on a file it creates where the folder passes nothing on.
  if (!args.empty() && args[0] == kElevatedWriteSwitch) {
    // Elevated, it must load no DLL from the program's folder (a USB stick)
    // or the current one.
    LoadLibrariesFromSystemOnly();
    return RunElevatedWrite(args);
  }
  // Every other mode (the lock, its watchdog, the starter between them) is
  // guarded before it makes its first thread, window or handle: a handle
  // opened in a gap would keep its rights for good.
  GuardFromBirth();
  SetThreadStarter(StartGuardedThread);
  InstallSettingsElevator();

  // The lock the guardian service started: it locks as ever, and waits for
  // the start that asked for it to let go of the session.
  const bool by_service = args.size() == 1 && args[0] == kGuardStartSwitch;
  const Launch launch = ParseLaunch(by_service ? std::vector<std::wstring>() : args);
  if (launch.mode == LaunchMode::Apart) return RunApart(launch);
  if (launch.mode == LaunchMode::Watchdog) return RunWatchdog(launch.first, launch.second, launch.third);
  const bool restarted = launch.mode == LaunchMode::Restarted;
  if (restarted) AdoptWatchdog(launch.first, launch.second, launch.third);

  const InstanceClaim claim = ClaimSingleInstance(restarted || by_service ? kRestartedClaimWaitMs : 0);
  // The installed copy is the one the service's record points at, which only
  // an administrator can set.
  const bool installed_start = !by_service && !restarted && SamePath(ProgramPath(), GuardedLockImage());
  StartAction action = DecideStart(claim, ReadConfiguration(), installed_start);
  if (action == StartAction::AskGuard) {
    if (TellGuard({GuardRequest::Start, L""}, 3000)) return 0;
    // No answer from the service: this start locks by itself rather than
    // leave the screen open.
    action = StartAction::Lock;
  }
  if (action == StartAction::Forward) {
    KnockOnRunningInstance();
    // The running instance has its own watchdog if it is locked.
    DisarmWatchdog();
    return 0;
  }
  OpenInstanceDoor(ComeForward);
  // A lock that was killed left the accessibility hot keys cleared.
  SystemShortcutGuard(TheApp().system_parameters).RecoverLeftover();
  // A busy moment must never let the system swap the lock window for a
  // movable "not responding" ghost of it.
  DisableProcessWindowsGhosting();

  static Form1 form1;
  TheApp().form1 = &form1;
  // A lock that stands carries on without the setup window: its three ways
  // out need none of it.
  if (!form1.Load(action == StartAction::Lock) && !TheApp().LockActive()) return 1;
  // Not locked (no configuration): a watchdog passed on by a restart has
  // nothing to watch over.
  if (!TheApp().LockActive() && !form1.lock_pending()) DisarmWatchdog();

  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    // Keys and characters for the lock: only those the keyboard typed.
    if (LockTakesInput(msg)) continue;
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
