// The keyboard guard's hook thread against injected key strokes. A second
// low-level hook, installed first and so called after the guard, shows what
// the guard let through to the rest of the system.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "lock/keyboard_hook_win.h"

namespace tolvane {
namespace {

// Counts, per virtual-key code, the events that reach it.
class DownstreamHook {
 public:
  DownstreamHook() {
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    thread_ = std::thread([this, ready] {
      MSG msg;
      PeekMessageW(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
      thread_id_ = GetCurrentThreadId();
      instance_ = this;
      HHOOK hook = SetWindowsHookExW(WH_KEYBOARD_LL, Proc, GetModuleHandleW(nullptr), 0);
      ok_ = hook != nullptr;
      SetEvent(ready);
      if (!hook) return;
      while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
      UnhookWindowsHookEx(hook);
    });
    WaitForSingleObject(ready, INFINITE);
    CloseHandle(ready);
  }
  ~DownstreamHook() {
    if (ok_) PostThreadMessageW(thread_id_, WM_QUIT, 0, 0);
    thread_.join();
  }
  bool ok() const { return ok_; }
  int count(unsigned vk) const { return counts_[vk & 0xFF].load(); }
  int total() const { return total_.load(); }

 private:
  static LRESULT CALLBACK Proc(int code, WPARAM wp, LPARAM lp) {
    if (code == HC_ACTION && instance_) {
      const auto* e = reinterpret_cast<const KBDLLHOOKSTRUCT*>(lp);
      instance_->counts_[e->vkCode & 0xFF].fetch_add(1);
      instance_->total_.fetch_add(1);
    }
    return CallNextHookEx(nullptr, code, wp, lp);
  }

  static inline DownstreamHook* instance_ = nullptr;
  std::thread thread_;
  DWORD thread_id_ = 0;
  bool ok_ = false;
  std::atomic<int> counts_[256] = {};
  std::atomic<int> total_{0};
};

struct Key {
  WORD vk;
  bool up;
};

void Inject(const std::vector<Key>& keys) {
  std::vector<INPUT> in(keys.size());
  for (std::size_t i = 0; i < keys.size(); ++i) {
    in[i].type = INPUT_KEYBOARD;
    in[i].ki.wVk = keys[i].vk;
    in[i].ki.wScan = static_cast<WORD>(MapVirtualKeyW(keys[i].vk, MAPVK_VK_TO_VSC));
    in[i].ki.dwFlags = keys[i].up ? KEYEVENTF_KEYUP : 0;
  }
  SendInput(static_cast<UINT>(in.size()), in.data(), sizeof(INPUT));
}

// Waits until `done` holds; the hooks run on their own threads. Generous:
// two cores shared with others.
template <typename F>
bool WaitFor(F done) {
  for (int i = 0; i < 1500; ++i) {
    if (done()) return true;
    Sleep(10);
  }
  return done();
}

std::vector<Key> Stroke(WORD vk) { return {{vk, false}, {vk, true}}; }
std::vector<Key> Chord(WORD modifier, WORD vk) {
  return {{modifier, false}, {vk, false}, {vk, true}, {modifier, true}};
}

TEST(KeyboardHook, SwallowsBlockedStrokesAndPassesTheRest) {
  DownstreamHook downstream;
  ASSERT_TRUE(downstream.ok());
  KeyboardHook guard;
  ASSERT_TRUE(guard.Start());
  ASSERT_TRUE(guard.installed());

  const struct {
    const char* name;
    std::vector<Key> keys;
    WORD key;         // the key whose events are looked at downstream
    int swallowed;    // events of the whole stroke the guard keeps
  } cases[] = {
      {"Windows key", Stroke(VK_LWIN), VK_LWIN, 2},
      {"right Windows key", Stroke(VK_RWIN), VK_RWIN, 2},
      {"context-menu key", Stroke(VK_APPS), VK_APPS, 2},
      {"Alt+Tab", Chord(VK_MENU, VK_TAB), VK_TAB, 2},
      {"Alt+F4", Chord(VK_MENU, VK_F4), VK_F4, 2},
      {"Alt+Esc", Chord(VK_MENU, VK_ESCAPE), VK_ESCAPE, 2},
      {"Ctrl+Esc", Chord(VK_CONTROL, VK_ESCAPE), VK_ESCAPE, 2},
      {"PrtScn", Stroke(VK_SNAPSHOT), VK_SNAPSHOT, 2},
      {"browser back", Stroke(VK_BROWSER_BACK), VK_BROWSER_BACK, 2},
      {"launch mail", Stroke(VK_LAUNCH_MAIL), VK_LAUNCH_MAIL, 2},
      {"launch app 2", Stroke(VK_LAUNCH_APP2), VK_LAUNCH_APP2, 2},
      {"Esc alone", Stroke(VK_ESCAPE), VK_ESCAPE, 0},
      {"Tab alone", Stroke(VK_TAB), VK_TAB, 0},
      {"F2", Stroke(VK_F2), VK_F2, 0},
      {"F3", Stroke(VK_F3), VK_F3, 0},
      {"F4", Stroke(VK_F4), VK_F4, 0},
  };
  for (const auto& c : cases) {
    const auto seen0 = guard.seen();
    const auto swallowed0 = guard.swallowed();
    const int total0 = downstream.total();
    const int key0 = downstream.count(c.key);
    Inject(c.keys);
    ASSERT_TRUE(WaitFor([&] { return guard.seen() >= seen0 + c.keys.size(); })) << c.name;
    EXPECT_EQ(static_cast<int>(guard.swallowed() - swallowed0), c.swallowed) << c.name;
    // Everything the guard passed arrives downstream, the modifiers included;
    // what it kept does not.
    const int passed = static_cast<int>(c.keys.size()) - c.swallowed;
    EXPECT_TRUE(WaitFor([&] { return downstream.total() - total0 >= passed; })) << c.name;
    Sleep(20);
    EXPECT_EQ(downstream.total() - total0, passed) << c.name;
    EXPECT_EQ(downstream.count(c.key) - key0, c.swallowed > 0 ? 0 : 2) << c.name;
  }

  // Once stopped, the guard is out of the chain: the Windows key goes through.
  guard.Stop();
  EXPECT_FALSE(guard.installed());
  const int lwin0 = downstream.count(VK_LWIN);
  Inject(Stroke(VK_LWIN));
  EXPECT_TRUE(WaitFor([&] { return downstream.count(VK_LWIN) - lwin0 == 2; }));
}

TEST(KeyboardHook, StartStopIsRepeatable) {
  KeyboardHook guard;
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(guard.Start()) << i;
    EXPECT_TRUE(guard.Start()) << "a second start keeps the running hook";
    guard.Stop();
    EXPECT_FALSE(guard.installed());
    guard.Stop();
  }
}

// An installer that refuses its first call, then installs for real and
// remembers the handle it got.
std::atomic<int> g_install_calls{0};
std::atomic<HHOOK> g_last_hook{nullptr};

HHOOK WINAPI FailFirstInstall(int id, HOOKPROC proc, HINSTANCE module, DWORD thread) {
  if (g_install_calls.fetch_add(1) == 0) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  HHOOK h = SetWindowsHookExW(id, proc, module, thread);
  g_last_hook.store(h);
  return h;
}

// True when a Windows-key stroke is kept from `downstream`. An F5 stroke goes
// after it and always passes: once F5 is let go downstream, the Windows key
// has had its turn, whatever the machine's load.
bool WindowsKeyIsSwallowed(DownstreamHook& downstream) {
  const int win0 = downstream.count(VK_LWIN);
  const int f5 = downstream.count(VK_F5);
  std::vector<Key> keys = Stroke(VK_LWIN);
  keys.push_back({VK_F5, false});
  keys.push_back({VK_F5, true});
  Inject(keys);
  EXPECT_TRUE(WaitFor([&] { return downstream.count(VK_F5) >= f5 + 2; })) << "the F5 after the Windows key";
  return downstream.count(VK_LWIN) == win0;
}

// A Windows key held down as the lock comes up: its press reached the system
// before the guard was there, so its release must too, or the system keeps
// the key down and every key let through acts as Windows+key.
TEST(KeyboardHook, AWindowsKeyPressedBeforeTheGuardIsReleasedForTheSystem) {
  DownstreamHook downstream;
  ASSERT_TRUE(downstream.ok());
  const int lwin0 = downstream.count(VK_LWIN);
  Inject({{VK_LWIN, false}});
  ASSERT_TRUE(WaitFor([&] { return downstream.count(VK_LWIN) == lwin0 + 1; }));
  ASSERT_TRUE(WaitFor([] { return (GetAsyncKeyState(VK_LWIN) & 0x8000) != 0; })) << "the system holds the key";

  KeyboardHook guard;
  ASSERT_TRUE(guard.Start());
  const auto seen0 = guard.seen();
  const auto swallowed0 = guard.swallowed();
  // The key's repeat, a letter typed with it, then its release.
  Inject({{VK_LWIN, false}, {'R', false}, {'R', true}, {VK_LWIN, true}});
  ASSERT_TRUE(WaitFor([&] { return guard.seen() >= seen0 + 4; }));
  EXPECT_TRUE(WaitFor([&] { return downstream.count(VK_LWIN) == lwin0 + 2; })) << "the release never got through";
  EXPECT_EQ(guard.swallowed() - swallowed0, 1u) << "only the repeat is kept";
  EXPECT_TRUE(WaitFor([] { return (GetAsyncKeyState(VK_LWIN) & 0x8000) == 0; }))
      << "the system still holds the Windows key";

  // A press under the guard is the guard's own, both halves.
  const int total0 = downstream.total();
  EXPECT_TRUE(WindowsKeyIsSwallowed(downstream));
  EXPECT_EQ(downstream.total(), total0 + 2) << "only the F5 after it got through";
  EXPECT_EQ(GetAsyncKeyState(VK_LWIN) & 0x8000, 0);
}

TEST(KeyboardHook, AFailedInstallIsRetriedAndTheGuardComesUp) {
  DownstreamHook downstream;
  ASSERT_TRUE(downstream.ok());
  g_install_calls = 0;
  KeyboardHook guard(FailFirstInstall);
  EXPECT_FALSE(guard.Start()) << "the first install failed";
  EXPECT_FALSE(guard.installed());
  // The retry comes a quarter of a second later, on the hook's own thread.
  ASSERT_TRUE(WaitFor([&] { return guard.installed(); }));
  EXPECT_EQ(guard.installs(), 1u);
  EXPECT_GE(g_install_calls.load(), 2);
  EXPECT_TRUE(WindowsKeyIsSwallowed(downstream));
  guard.Stop();
  EXPECT_FALSE(guard.installed());
}

// Installs for real, but only while the gate is open; a call that finds it
// shut waits there, so the test decides when the next re-install lands.
HANDLE g_gate = nullptr;
std::atomic<int> g_waiting_at_gate{0};

HHOOK WINAPI GatedInstall(int id, HOOKPROC proc, HINSTANCE module, DWORD thread) {
  g_waiting_at_gate.fetch_add(1);
  WaitForSingleObject(g_gate, INFINITE);
  g_waiting_at_gate.fetch_sub(1);
  HHOOK h = SetWindowsHookExW(id, proc, module, thread);
  g_last_hook.store(h);
  return h;
}

TEST(KeyboardHook, AHookTheSystemDroppedComesBackAtTheNextReinstall) {
  DownstreamHook downstream;
  ASSERT_TRUE(downstream.ok());
  g_gate = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  g_waiting_at_gate = 0;
  g_last_hook = nullptr;
  constexpr DWORD kInterval = 400;
  KeyboardHook guard(GatedInstall, kInterval);
  // Declared after the guard, so an early return opens the gate before the
  // guard's Stop waits for its thread.
  struct OpenGateAtEnd {
    ~OpenGateAtEnd() { SetEvent(g_gate); }
  } open_gate_at_end;
  ASSERT_TRUE(guard.Start());
  ASSERT_TRUE(WindowsKeyIsSwallowed(downstream));
  // The next re-install waits at the gate: until it is let through, the hook
  // in the chain is the one the test is about to drop.
  ResetEvent(g_gate);
  ASSERT_TRUE(WaitFor([] { return g_waiting_at_gate.load() == 1; })) << "no re-install came";
  const auto installs0 = guard.installs();
  // What Windows does to a hook that answered too late, done here by hand:
  // the hook leaves the chain and nobody is told.
  ASSERT_TRUE(UnhookWindowsHookEx(g_last_hook.load()));
  EXPECT_FALSE(WindowsKeyIsSwallowed(downstream)) << "the dropped hook guards nothing";
  SetEvent(g_gate);
  ASSERT_TRUE(WaitFor([&] { return guard.installs() > installs0; }));
  EXPECT_TRUE(WindowsKeyIsSwallowed(downstream));
  // Re-installs go on at the interval, and each leaves a single hook: one
  // stroke is seen once per event, not once per hook ever installed. F6
  // after F5: once it is let go downstream, every hook of the guard has had
  // all four events.
  ASSERT_TRUE(WaitFor([&] { return guard.installs() >= installs0 + 3; }));
  const auto seen0 = guard.seen();
  const int f6 = downstream.count(VK_F6);
  std::vector<Key> keys = Stroke(VK_F5);
  keys.push_back({VK_F6, false});
  keys.push_back({VK_F6, true});
  Inject(keys);
  ASSERT_TRUE(WaitFor([&] { return downstream.count(VK_F6) >= f6 + 2; }));
  EXPECT_EQ(guard.seen(), seen0 + 4);
}

}  // namespace
}  // namespace tolvane
