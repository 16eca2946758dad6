// Number of GDI objects this process holds, for leak checks in tests and
// tools. GetGuiResources answers on Windows; under Wine it is a stub that
// returns 0, so there the process's own GDI handle table is counted instead
// (Wine keeps it in the PEB, laid out like the system's: 24-byte entries
// whose type byte is 0 for a free slot).
#pragma once
#include <windows.h>
#include <winternl.h>

#include <cstddef>

namespace tolvane::test {

inline int GdiObjectCount() {
  const DWORD reported = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
  if (reported != 0) return static_cast<int>(reported);
  struct HandleEntry {
    ULONGLONG object;
    ULONG owner;
    USHORT unique;
    UCHAR type;
    UCHAR flags;
    ULONGLONG user;
  };
  static_assert(sizeof(HandleEntry) == 24);
#ifdef _WIN64
  constexpr std::size_t kTableOffset = 0xF8;
#else
  constexpr std::size_t kTableOffset = 0x94;
#endif
  using QueryProcess = NTSTATUS(WINAPI*)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);
  const auto query = reinterpret_cast<QueryProcess>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
  PROCESS_BASIC_INFORMATION info{};
  if (!query || query(GetCurrentProcess(), ProcessBasicInformation, &info, sizeof(info), nullptr) != 0) return -1;
  const auto* peb = reinterpret_cast<const char*>(info.PebBaseAddress);
  const auto* table = *reinterpret_cast<const HandleEntry* const*>(peb + kTableOffset);
  if (!table) return -1;
  int count = 0;
  for (int i = 0; i < 0x10000; ++i) {
    if (table[i].type != 0) ++count;
  }
  return count;
}

}  // namespace tolvane::test
