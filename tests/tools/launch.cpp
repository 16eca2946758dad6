// launch: starts a program with its own "windir", for the end-to-end tests.
//
//   launch --out FILE [--windir DIR] [--wait MS] [--cover MS] PROGRAM [ARGS...]
//
// The program finds its settings file through the environment variable
// windir. Wine replaces that variable in every process started from a Unix
// shell, but passes on what a Windows parent puts in the child's environment
// block: so each test gives the program a Windows directory of its own here and
// no test touches a shared settings file.
//
// FILE receives one JSON line {"pid":N} (the Windows process id) as soon as the
// program runs; with --wait, a second line {"exit_code":N} once it ended, or
// {"exit_code":null} when MS passed first (the program keeps running). The
// working directory is the program's folder, as when started from Explorer.
// Exit code 0 when the program was started, 1 when it could not be, 2 on a
// usage error.
//
// With --keep KEEPFILE the program is started by a second copy of the
// launcher that stays until the program ends: KEEPFILE gets the pid line and,
// once the program ended, its exit code. A test that asks for the exit code of
// a program that ended before any other helper could open it reads it there:
// an ended process can no longer be opened by its id.
//
// With --cover, the launcher times the cover for the benchmarks: a line
// {"shown_ms":X,"painted_ms":Y} with the time from just before CreateProcess
// until a visible window of the program covers the whole primary monitor, and
// until the screen under it has changed colour (the window painted), or null
// for what did not happen within MS.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <string>
#include <vector>

namespace {

// Quotes one argument the way CommandLineToArgvW reads it back.
std::wstring Quote(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
  std::wstring out = L"\"";
  size_t slashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++slashes;
      continue;
    }
    out.append(c == L'"' ? slashes * 2 + 1 : slashes, L'\\');
    slashes = 0;
    out += c;
  }
  out.append(slashes * 2, L'\\');
  return out + L"\"";
}

bool StartsWithNoCase(const wchar_t* s, const wchar_t* prefix) {
  for (; *prefix; ++s, ++prefix) {
    if (std::towlower(*s) != std::towlower(*prefix)) return false;
  }
  return true;
}

// The current environment with windir replaced.
std::vector<wchar_t> EnvironmentWith(const std::wstring& windir) {
  std::vector<wchar_t> block;
  wchar_t* env = GetEnvironmentStringsW();
  for (const wchar_t* p = env; p && *p; p += std::wcslen(p) + 1) {
    if (StartsWithNoCase(p, L"windir=")) continue;
    block.insert(block.end(), p, p + std::wcslen(p) + 1);
  }
  if (env) FreeEnvironmentStringsW(env);
  std::wstring var = L"windir=" + windir;
  block.insert(block.end(), var.c_str(), var.c_str() + var.size() + 1);
  block.push_back(L'\0');
  return block;
}

double Seconds() {
  LARGE_INTEGER now, freq;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&freq);
  return static_cast<double>(now.QuadPart) / static_cast<double>(freq.QuadPart);
}

struct CoverSearch {
  DWORD pid;
  bool found;
};

BOOL CALLBACK FindCover(HWND h, LPARAM lp) {
  auto* s = reinterpret_cast<CoverSearch*>(lp);
  DWORD pid = 0;
  GetWindowThreadProcessId(h, &pid);
  RECT r;
  if (pid != s->pid || !IsWindowVisible(h) || !GetWindowRect(h, &r)) return TRUE;
  if (r.left <= 0 && r.top <= 0 && r.right >= GetSystemMetrics(SM_CXSCREEN) &&
      r.bottom >= GetSystemMetrics(SM_CYSCREEN)) {
    s->found = true;
    return FALSE;
  }
  return TRUE;
}

// Points spread over the screen, away from where labels and boxes sit.
constexpr int kSamples = 5;
void SampleScreen(HDC screen, COLORREF (&out)[kSamples]) {
  const int w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
  const POINT at[kSamples] = {{w / 2, h / 3}, {w * 3 / 4, h / 4}, {w * 3 / 4, h * 3 / 4}, {w / 2, h * 2 / 3},
                              {w - 8, 8}};
  for (int i = 0; i < kSamples; ++i) out[i] = GetPixel(screen, at[i].x, at[i].y);
}

// Polls every millisecond; fills the times in seconds after t0, or -1.
void WatchCover(DWORD pid, HANDLE process, double t0, long timeout_ms, const COLORREF (&before)[kSamples],
                double* shown, double* painted) {
  *shown = *painted = -1;
  HDC screen = GetDC(nullptr);
  while (Seconds() - t0 < timeout_ms / 1000.0) {
    if (*shown < 0) {
      CoverSearch s{pid, false};
      EnumWindows(FindCover, reinterpret_cast<LPARAM>(&s));
      if (s.found) *shown = Seconds() - t0;
    }
    if (*painted < 0 && screen) {
      COLORREF now[kSamples];
      SampleScreen(screen, now);
      for (int i = 0; i < kSamples; ++i) {
        if (now[i] != before[i] && now[i] != CLR_INVALID) *painted = Seconds() - t0;
      }
    }
    if (*shown >= 0 && *painted >= 0) break;
    if (WaitForSingleObject(process, 1) == WAIT_OBJECT_0) break;
  }
  if (screen) ReleaseDC(nullptr, screen);
}

std::string Ms(double seconds) {
  if (seconds < 0) return "null";
  char buf[32];
  std::snprintf(buf, sizeof(buf), "%.2f", seconds * 1000);
  return buf;
}

int Usage() {
  std::fputs("usage: launch --out FILE [--windir DIR] [--wait MS] [--cover MS] PROGRAM [ARGS...]\n", stderr);
  return 2;
}

}  // namespace

constexpr long kWaitForever = 0x7FFFFFFF;

// Starts a second copy of this launcher that starts the program and waits for
// it with the process handle it got from CreateProcess; passes on the pid line
// the copy writes to keep_path.
int LaunchThroughKeeper(const wchar_t* self, const wchar_t* out_path, const wchar_t* windir,
                        const wchar_t* keep_path, int count, wchar_t** program_args) {
  DeleteFileW(keep_path);
  std::wstring cmdline = Quote(self) + L" --out " + Quote(keep_path);
  if (windir) cmdline += L" --windir " + Quote(windir);
  cmdline += L" --wait " + std::to_wstring(kWaitForever);
  for (int k = 0; k < count; ++k) cmdline += L" " + Quote(program_args[k]);
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(nullptr, cmdline.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return 1;
  CloseHandle(pi.hThread);
  std::string first;
  for (int tries = 0; tries < 600 && first.empty(); ++tries) {
    if (FILE* keep = _wfopen(keep_path, L"rb")) {
      char line[256] = {};
      if (std::fgets(line, sizeof(line), keep) && std::strchr(line, '\n')) first = line;
      std::fclose(keep);
    }
    if (first.empty() && WaitForSingleObject(pi.hProcess, 50) == WAIT_OBJECT_0) break;
  }
  CloseHandle(pi.hProcess);
  FILE* out = _wfopen(out_path, L"wb");
  if (!out) return 1;
  std::fputs(first.empty() ? "{\"pid\":null}\n" : first.c_str(), out);
  std::fclose(out);
  return first.find("\"pid\":null") == std::string::npos && !first.empty() ? 0 : 1;
}

int wmain(int argc, wchar_t** argv) {
  const wchar_t* out_path = nullptr;
  const wchar_t* windir = nullptr;
  long wait_ms = -1;
  long cover_ms = -1;
  const wchar_t* keep_path = nullptr;
  int i = 1;
  for (; i + 1 < argc && argv[i][0] == L'-' && argv[i][1] == L'-'; i += 2) {
    std::wstring opt = argv[i];
    if (opt == L"--out") {
      out_path = argv[i + 1];
    } else if (opt == L"--windir") {
      windir = argv[i + 1];
    } else if (opt == L"--wait") {
      wait_ms = std::wcstol(argv[i + 1], nullptr, 10);
    } else if (opt == L"--keep") {
      keep_path = argv[i + 1];
    } else if (opt == L"--cover") {
      cover_ms = std::wcstol(argv[i + 1], nullptr, 10);
    } else {
      return Usage();
    }
  }
  if (!out_path || i >= argc) return Usage();

  if (keep_path) return LaunchThroughKeeper(argv[0], out_path, windir, keep_path, argc - i, argv + i);

  std::wstring program = argv[i];
  std::wstring cmdline;
  for (int k = i; k < argc; ++k) cmdline += (k > i ? L" " : L"") + Quote(argv[k]);
  std::wstring folder = program.substr(0, program.find_last_of(L"\\/") == std::wstring::npos
                                              ? 0
                                              : program.find_last_of(L"\\/"));

  std::vector<wchar_t> env;
  if (windir) env = EnvironmentWith(windir);

  FILE* out = _wfopen(out_path, L"wb");
  if (!out) return 1;
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  COLORREF before[kSamples] = {};
  if (cover_ms >= 0) {
    HDC screen = GetDC(nullptr);
    if (screen) {
      SampleScreen(screen, before);
      ReleaseDC(nullptr, screen);
    }
  }
  const double t0 = Seconds();
  if (!CreateProcessW(program.c_str(), cmdline.data(), nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                      windir ? env.data() : nullptr, folder.empty() ? nullptr : folder.c_str(), &si, &pi)) {
    std::fprintf(out, "{\"pid\":null,\"error\":%lu}\n", GetLastError());
    std::fclose(out);
    return 1;
  }
  std::fprintf(out, "{\"pid\":%lu}\n", pi.dwProcessId);
  std::fflush(out);
  if (cover_ms >= 0) {
    double shown = -1, painted = -1;
    WatchCover(pi.dwProcessId, pi.hProcess, t0, cover_ms, before, &shown, &painted);
    std::fprintf(out, "{\"shown_ms\":%s,\"painted_ms\":%s}\n", Ms(shown).c_str(), Ms(painted).c_str());
    std::fflush(out);
  }
  if (wait_ms >= 0) {
    DWORD code = 0;
    const DWORD wait = wait_ms == kWaitForever ? INFINITE : static_cast<DWORD>(wait_ms);
    if (WaitForSingleObject(pi.hProcess, wait) == WAIT_OBJECT_0 &&
        GetExitCodeProcess(pi.hProcess, &code)) {
      std::fprintf(out, "{\"exit_code\":%lu}\n", code);
    } else {
      std::fputs("{\"exit_code\":null}\n", out);
    }
  }
  std::fclose(out);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return 0;
}
