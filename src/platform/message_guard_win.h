// Any program in the session can send or post any message to any of this
// program's windows. A message is therefore an input to check, never an
// order: a way out of the lock acts on the program's own check only, a
// window's teardown runs only when the program itself destroys the window,
// and the program's own posts carry a mark that other programs do not know.
#pragma once
#include <windows.h>

namespace tolvane {

// The thread is handling a message that another thread (or process) sent:
// SendMessage, SendNotifyMessage or SendMessageCallback from outside. It
// stays true for everything the handler does, own windows created and
// destroyed included (the shell's tray clicks arrive this way): use it only
// where the message at hand is the one that came from outside.
bool FromAnotherThread();

// The per-process random value the program puts in the wParam of the
// messages it posts to its own windows.
WPARAM OwnPostMark();
// Posts `msg` to one of the program's own windows, marked as its own.
bool PostOwn(HWND hwnd, UINT msg);
// The message carries the mark.
bool IsOwnPost(WPARAM wp);

// Starts watching this thread's own DestroyWindow calls (once per thread;
// the window base calls it before it creates a window).
void WatchOwnDestroys();
// `hwnd`, or the top-level window it belongs to, is being destroyed by a
// DestroyWindow call of this thread: a WM_DESTROY or WM_NCDESTROY that is
// not forged.
bool OwnDestroy(HWND hwnd);
// Called at a window's genuine WM_NCDESTROY: it is no longer watched.
void ForgetDestroyed(HWND hwnd);

}  // namespace tolvane
