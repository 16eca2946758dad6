// drivetool: plugs and pulls simulated drives inside a running Wine session,
// for the end-to-end tests.
//
//   drivetool [--out FILE] plug LETTER UNIXDIR removable|fixed [announce]
//                                             announce: then broadcast its arrival at once,
//                                             as Windows does once a volume is mounted
//   drivetool [--out FILE] nomedia LETTER     removable letter with no medium
//   drivetool [--out FILE] pull LETTER
//   drivetool [--out FILE] query LETTER       what a program on the drive sees
//   drivetool [--out FILE] reset              pull D: to Y:
//   drivetool [--out FILE] broadcast arrival|removal LETTER
//
// Exit code 0 on success, 1 when the request failed, 2 on a usage error. With
// --out, a line of text (UTF-8) with the outcome or the error goes to FILE:
// Wine programs must not report through a pipe, because the services that the
// first program of a session starts inherit the pipe and keep it open.
//
// Why an IOCTL and not a symlink in dosdevices: a symlink that appears after the
// session started is reported as a fixed drive and is missing from
// GetLogicalDrives, and a removed one leaves a removable letter behind. Wine's
// mount manager, asked the way winecfg asks it, creates and deletes a real
// device with the requested type.
#include <windows.h>
#include <dbt.h>
#include <winioctl.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace {

// Wine's private extension of the mount manager (include/ddk/mountmgr.h of
// Wine 8). MinGW's ddk/mountmgr.h has an older, shorter record under the same
// name that does not match what Wine 8 reads, so the layout is spelled out.
constexpr DWORD kMountMgrType = 'm';
constexpr DWORD kDefineUnixDrive =
    CTL_CODE(kMountMgrType, 32, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS);
constexpr DWORD kQueryUnixDrive = CTL_CODE(kMountMgrType, 33, METHOD_BUFFERED, FILE_READ_ACCESS);

struct UnixDrive {
  ULONG size;
  ULONG type;
  ULONG fs_type;
  DWORD serial;
  ULONGLONG unix_dev;
  WCHAR letter;
  USHORT mount_point_offset;  // byte offsets from the start of the record of
  USHORT device_offset;       // NUL-terminated Unix (UTF-8) strings; 0 = none
  USHORT label_offset;        // WCHAR string
};

FILE* g_out = nullptr;

std::string Utf8(const std::wstring& w) {
  if (w.empty()) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
  std::string s(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.c_str(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
  return s;
}

void Report(const char* fmt, const std::string& a = {}, unsigned long b = 0) {
  if (!g_out) return;
  std::fprintf(g_out, fmt, a.c_str(), b);
  std::fputc('\n', g_out);
  std::fflush(g_out);
}

int Fail(const char* what, DWORD err = GetLastError()) {
  Report("error: %s (Win32 error %lu)", what, err);
  return 1;
}

bool ParseLetter(const wchar_t* arg, WCHAR* letter) {
  if (!arg || std::wcslen(arg) > 2 || (arg[1] && arg[1] != L':')) return false;
  WCHAR c = static_cast<WCHAR>(towlower(arg[0]));
  if (c < L'a' || c > L'z') return false;
  *letter = c;
  return true;
}

HANDLE OpenMountManager() {
  return CreateFileW(L"\\\\.\\MountPointManager", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                     nullptr, OPEN_EXISTING, 0, nullptr);
}

// Sends one DEFINE_UNIX_DRIVE request. mount_point and device may be null.
int DefineDrive(WCHAR letter, ULONG type, const char* mount_point, const char* device, bool quiet = false) {
  std::vector<char> buf(sizeof(UnixDrive));
  auto append = [&buf](const char* s) -> USHORT {
    if (!s) return 0;
    size_t at = buf.size();
    buf.insert(buf.end(), s, s + std::strlen(s) + 1);
    return static_cast<USHORT>(at);
  };
  USHORT mp = append(mount_point);
  USHORT dev = append(device);
  auto* rec = reinterpret_cast<UnixDrive*>(buf.data());
  rec->size = static_cast<ULONG>(buf.size());
  rec->type = type;
  rec->letter = letter;
  rec->mount_point_offset = mp;
  rec->device_offset = dev;

  HANDLE mgr = OpenMountManager();
  if (mgr == INVALID_HANDLE_VALUE) return quiet ? 1 : Fail("cannot open the mount manager");
  DWORD got = 0;
  BOOL ok = DeviceIoControl(mgr, kDefineUnixDrive, buf.data(), static_cast<DWORD>(buf.size()), nullptr, 0, &got,
                            nullptr);
  DWORD err = GetLastError();
  CloseHandle(mgr);
  if (!ok) return quiet ? 1 : Fail("the mount manager refused the drive", err);
  return 0;
}

std::wstring Root(WCHAR letter) {
  return std::wstring(1, static_cast<WCHAR>(towupper(letter))) + L":\\";
}

const char* TypeName(UINT t) {
  switch (t) {
    case DRIVE_NO_ROOT_DIR: return "none";
    case DRIVE_REMOVABLE: return "removable";
    case DRIVE_FIXED: return "fixed";
    case DRIVE_REMOTE: return "remote";
    case DRIVE_CDROM: return "cdrom";
    case DRIVE_RAMDISK: return "ramdisk";
    default: return "unknown";
  }
}

// What the program under test will see: type, presence in the logical-drive
// mask, total size (0 when it cannot be read), and the mount manager's record.
int Query(WCHAR letter) {
  std::wstring root = Root(letter);
  UINT type = GetDriveTypeW(root.c_str());
  bool listed = (GetLogicalDrives() >> (letter - L'a')) & 1;
  ULARGE_INTEGER avail{}, total{}, free_bytes{};
  std::wstring drive = root.substr(0, 2);
  if (!GetDiskFreeSpaceExW(drive.c_str(), &avail, &total, &free_bytes)) total.QuadPart = 0;

  std::string mount_point;
  HANDLE mgr = OpenMountManager();
  if (mgr != INVALID_HANDLE_VALUE) {
    UnixDrive in{};
    in.size = sizeof(in);
    in.letter = letter;
    std::vector<char> out(4096);
    DWORD got = 0;
    if (DeviceIoControl(mgr, kQueryUnixDrive, &in, sizeof(in), out.data(), static_cast<DWORD>(out.size()), &got,
                        nullptr) &&
        got >= sizeof(UnixDrive)) {
      auto* rec = reinterpret_cast<const UnixDrive*>(out.data());
      if (rec->mount_point_offset && rec->mount_point_offset < got) mount_point = out.data() + rec->mount_point_offset;
    }
    CloseHandle(mgr);
  }
  if (g_out) {
    std::fprintf(g_out, "type=%s\nlogical=%d\ntotal=%llu\nmount=%s\n", TypeName(type), listed ? 1 : 0,
                 static_cast<unsigned long long>(total.QuadPart), mount_point.c_str());
    std::fflush(g_out);
  }
  return 0;
}

// Pulls every letter from D to Y. The mount manager keeps drive types in the
// prefix's registry and links in dosdevices, so a run that died halfway would
// otherwise hand its drives to the next run. C: and Z: belong to the prefix.
int Reset() {
  for (WCHAR c = L'd'; c <= L'y'; ++c) {
    if (GetDriveTypeW(Root(c).c_str()) == DRIVE_NO_ROOT_DIR) continue;
    if (DefineDrive(c, DRIVE_NO_ROOT_DIR, nullptr, nullptr) != 0) return 1;
  }
  Report("reset");
  return 0;
}

// Wine sends no WM_DEVICECHANGE for drives defined through the mount manager;
// a test that needs the notification sends it the way Windows would, to every
// top-level window. Not through BroadcastSystemMessage: Wine 8's reaches no
// window of another process with it.
struct Notice {
  WPARAM event;
  DEV_BROADCAST_VOLUME vol;
  int sent;
};

BOOL CALLBACK NotifyWindow(HWND h, LPARAM lp) {
  auto* n = reinterpret_cast<Notice*>(lp);
  DWORD pid = 0;
  GetWindowThreadProcessId(h, &pid);
  if (pid == GetCurrentProcessId()) return TRUE;
  DWORD_PTR result = 0;
  // A hung window must not hold up the test.
  if (SendMessageTimeoutW(h, WM_DEVICECHANGE, n->event, reinterpret_cast<LPARAM>(&n->vol), SMTO_ABORTIFHUNG, 2000,
                          &result)) {
    ++n->sent;
  }
  return TRUE;
}

int Broadcast(bool arrival, WCHAR letter) {
  Notice n{};
  n.event = arrival ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE;
  n.vol.dbcv_size = sizeof(n.vol);
  n.vol.dbcv_devicetype = DBT_DEVTYP_VOLUME;
  n.vol.dbcv_unitmask = 1u << (letter - L'a');
  if (!EnumWindows(NotifyWindow, reinterpret_cast<LPARAM>(&n))) return Fail("cannot list the windows");
  Report(arrival ? "arrival of %s sent to %lu windows" : "removal of %s sent to %lu windows", Utf8(Root(letter)),
         static_cast<unsigned long>(n.sent));
  return 0;
}

int Usage() {
  Report("usage: drivetool [--out FILE] plug|nomedia|pull|query|broadcast ...");
  std::fputs("usage: drivetool [--out FILE] plug LETTER UNIXDIR removable|fixed [announce]\n"
             "       drivetool [--out FILE] nomedia|pull|query LETTER\n"
             "       drivetool [--out FILE] reset\n"
             "       drivetool [--out FILE] broadcast arrival|removal LETTER\n",
             stderr);
  return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  int i = 1;
  if (i + 1 < argc && std::wcscmp(argv[i], L"--out") == 0) {
    g_out = _wfopen(argv[i + 1], L"wb");
    i += 2;
  }
  if (i >= argc) return Usage();
  std::wstring cmd = argv[i++];
  const int rest = argc - i;
  WCHAR letter = 0;
  int rc = 2;

  if (cmd == L"plug" && (rest == 3 || (rest == 4 && std::wcscmp(argv[i + 3], L"announce") == 0)) &&
      ParseLetter(argv[i], &letter)) {
    std::wstring kind = argv[i + 2];
    ULONG type = kind == L"removable" ? DRIVE_REMOVABLE : kind == L"fixed" ? DRIVE_FIXED : 0;
    if (!type) return Usage();
    std::string dir = Utf8(argv[i + 1]);
    // Plugging a letter that is in use means a new medium: drop the old one.
    DefineDrive(letter, DRIVE_NO_ROOT_DIR, nullptr, nullptr, true);
    rc = DefineDrive(letter, type, dir.c_str(), nullptr);
    if (rc == 0) Report("plugged %s", Utf8(Root(letter)));
    if (rc == 0 && rest == 4) rc = Broadcast(true, letter);
  } else if (cmd == L"nomedia" && rest == 1 && ParseLetter(argv[i], &letter)) {
    // Without a mount point the mount manager keeps a removable device for the
    // letter with nothing behind it: GetLogicalDrives and GetDriveType report
    // it, its size cannot be read, as with a card reader slot without a card.
    DefineDrive(letter, DRIVE_NO_ROOT_DIR, nullptr, nullptr, true);
    rc = DefineDrive(letter, DRIVE_REMOVABLE, nullptr, nullptr);
    if (rc == 0) Report("empty slot %s", Utf8(Root(letter)));
  } else if (cmd == L"pull" && rest == 1 && ParseLetter(argv[i], &letter)) {
    rc = DefineDrive(letter, DRIVE_NO_ROOT_DIR, nullptr, nullptr);
    if (rc == 0) Report("pulled %s", Utf8(Root(letter)));
  } else if (cmd == L"reset" && rest == 0) {
    rc = Reset();
  } else if (cmd == L"query" && rest == 1 && ParseLetter(argv[i], &letter)) {
    rc = Query(letter);
  } else if (cmd == L"broadcast" && rest == 2 && ParseLetter(argv[i + 1], &letter)) {
    std::wstring what = argv[i];
    if (what != L"arrival" && what != L"removal") return Usage();
    rc = Broadcast(what == L"arrival", letter);
  } else {
    rc = Usage();
  }
  if (g_out) std::fclose(g_out);
  return rc;
}
