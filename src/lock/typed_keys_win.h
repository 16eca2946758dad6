// The Windows half of lock/typed_keys.h: the note the keyboard hook makes of
// each key the keyboard sent, the message loops' gate in front of the lock
// window and its boxes, and the mark by which their window procedures know a
// key or character that went through it.
#pragma once
#include <windows.h>

namespace tolvane {

// On the hook thread: a key-down the keyboard guard let through.
void NoteKeyDown(const KBDLLHOOKSTRUCT& event);

// Every message loop of the program's user-interface thread calls this for
// each message it takes from the queue, before TranslateMessage. True: the
// message was keyboard input for the lock, and has been dispatched (a key
// the hook saw, with the characters it makes) or dropped; the loop goes on to
// the next message.
bool LockTakesInput(const MSG& msg);

// In the lock's window procedures: the key-down or character at hand was
// dispatched by LockTakesInput for a key from the keyboard. True once per
// such message; everything else (posted, sent, made by any other
// TranslateMessage) is false.
bool TypedByKeyboard(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);

#ifdef TOLVANE_TEST_SEAMS
// Test builds: `vk` goes down as if the keyboard had sent it (the hook's
// note, then the key-down in `hwnd`'s queue), for tests that type into a
// lock without a keyboard.
bool PostKeyAsKeyboard(HWND hwnd, UINT vk);
#endif

}  // namespace tolvane
