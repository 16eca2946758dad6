#include "platform/pipe_io_win.h"

namespace tolvane {

long long FinishPipeIo(HANDLE pipe, OVERLAPPED& ov, BOOL started, DWORD ms) {
  DWORD moved = 0;
  if (!started && GetLastError() != ERROR_IO_PENDING) return -1;
  if (!started && WaitForSingleObject(ov.hEvent, ms) != WAIT_OBJECT_0) {
    CancelIo(pipe);
    GetOverlappedResult(pipe, &ov, &moved, TRUE);
    return -1;
  }
  return GetOverlappedResult(pipe, &ov, &moved, FALSE) ? moved : -1;
}

}  // namespace tolvane
