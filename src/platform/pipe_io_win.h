// Bounded waits on overlapped pipe I/O, for the two ends of the guardian
// service's pipe: neither end may hang on a peer that stops answering.
#pragma once
#include <windows.h>

namespace tolvane {

// Completes an overlapped read or write on `pipe` that was started with
// `ov` (whose event is its hEvent) and returned `started`; waits at most
// `ms` and cancels it then. The bytes moved, or -1.
long long FinishPipeIo(HANDLE pipe, OVERLAPPED& ov, BOOL started, DWORD ms);

}  // namespace tolvane
