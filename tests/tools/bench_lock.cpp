// bench_lock: what the lock window's once-a-second drive watch costs.
//
//   bench_lock [ITERATIONS]      (default 10000)
//
// Prints, per call, the CPU time (user + kernel, GetProcessTimes) and the wall
// time of:
//   1. one drive-watch tick on this machine's drives, as Timer2 runs it
//      (system drive probe, key files read from the drives);
//   2. building the removable-drive list alone on this machine's drives;
//   3. building the list from a table of 23 removable drives (D to Z): the
//      formatting cost without any system call;
//   4. a tick over six table drives whose key files are 64 KiB in memory,
//      none matching: the most key-file work a tick can do.
// Run it where no removable drive is present to get the idle cost of the lock.
// Output goes to stdout; under Wine redirect it to a file.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <map>
#include <string>

#include "drives/drive_list.h"
#include "drives/drives_win.h"
#include "drives/probe_worker.h"
#include "lock/drive_watch.h"

namespace {

using namespace tolvane;

double FileTimeSeconds(const FILETIME& ft) {
  ULARGE_INTEGER u;
  u.LowPart = ft.dwLowDateTime;
  u.HighPart = ft.dwHighDateTime;
  return static_cast<double>(u.QuadPart) / 1e7;
}

double CpuSeconds() {
  FILETIME created, exited, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  return FileTimeSeconds(kernel) + FileTimeSeconds(user);
}

double WallSeconds() {
  static LARGE_INTEGER freq = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) / static_cast<double>(freq.QuadPart);
}

// Keeps results alive so the work is not optimised away.
volatile std::size_t g_sink = 0;

template <typename F>
void Measure(const char* what, int iterations, F body) {
  body();  // warm-up: first-call costs (COM, locale data) are not the steady state
  const double cpu0 = CpuSeconds();
  const double wall0 = WallSeconds();
  for (int i = 0; i < iterations; ++i) body();
  const double cpu = (CpuSeconds() - cpu0) / iterations;
  const double wall = (WallSeconds() - wall0) / iterations;
  std::printf("%-52s cpu %9.2f us   wall %9.2f us   (%d calls)\n", what, cpu * 1e6, wall * 1e6, iterations);
}

class TableDrives : public DriveProbe {
 public:
  explicit TableDrives(wchar_t last) : last_(last) {}
  bool Exists(wchar_t l) override { return l <= last_; }
  bool IsRemovable(wchar_t) override { return true; }
  std::uint64_t TotalBytes(wchar_t l) override { return (static_cast<std::uint64_t>(l) << 30) + 12345; }

 private:
  wchar_t last_;
};

class MemoryKeyFiles : public KeyFileSource {
 public:
  MemoryKeyFiles() {
    while (bytes_.size() < kKeyFileReadLimit) bytes_ += "FontName=" + std::string(60, 'x') + "\r\n";
    bytes_ = "[Option]\r\ndrive=E:\r\nname=not-the-cipher\r\n" + bytes_;
  }
  bool Attributes(const std::wstring&, std::uint32_t& attributes) override {
    attributes = 0x20;
    return true;
  }
  bool Read(const std::wstring&, std::uint32_t& attributes, std::string& out, std::size_t limit) override {
    attributes = 0x20;
    out.assign(bytes_, 0, limit);
    return true;
  }

 private:
  std::string bytes_;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const int iterations = argc > 1 ? std::max(1, _wtoi(argv[1])) : 10000;
  const NumberFormat nf = UserNumberFormat();
  const std::string stored = "q#7 Lx";

  {
    SystemDriveProbe probe;
    int removable = 0;
    for (wchar_t l = L'D'; l <= L'Z'; ++l) removable += probe.Exists(l) && probe.IsRemovable(l);
    std::printf("removable drive letters D-Z on this machine: %d\n", removable);
  }
  Measure("drive-watch tick, system drives", iterations, [&] {
    SystemDriveProbe probe;
    SystemKeyFiles keys;
    g_sink = g_sink + RunDriveWatch(probe, nf, keys, stored).list.size();
  });
  Measure("drive list, system drives", iterations, [&] {
    SystemDriveProbe probe;
    g_sink = g_sink + ScanRemovableDrives(probe, nf).size();
  });
  Measure("drive list, 23 table drives", iterations, [&] {
    TableDrives probe(L'Z');
    g_sink = g_sink + ScanRemovableDrives(probe, nf).size();
  });
  Measure("tick, 6 table drives, 64 KiB key files in memory", std::max(1, iterations / 10), [&] {
    TableDrives probe(L'I');
    MemoryKeyFiles keys;
    g_sink = g_sink + static_cast<std::size_t>(RunDriveWatch(probe, nf, keys, stored).matched + 1);
  });
  {
    // What the worker adds to a tick: the hand-over to its thread and back.
    HANDLE ready = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    ProbeWorker<std::size_t> worker(
        [nf] {
          TableDrives probe(L'I');
          return ScanRemovableDrives(probe, nf).size();
        },
        [ready] { SetEvent(ready); });
    Measure("tick through the worker, request to result", iterations, [&] {
      worker.RequestTick();
      WaitForSingleObject(ready, INFINITE);
      g_sink = g_sink + worker.TakeResult().value_or(0);
    });
    worker.Stop();
    CloseHandle(ready);
  }
  return 0;
}
