// The three floors the benchmark sets beside the assistant: the least that an
// executable built like it (same compiler, options, entry point, no C
// runtime) can do, at three levels. FLOOR chooses one at compile time:
//
//   1  bare     its entry point calls ExitProcess(0); imports only KERNEL32.
//   2  matched  the bare floor importing the assistant's DLLs (KERNEL32,
//               ADVAPI32, SHELL32, SHLWAPI) and the functions it imports from
//               them: each is referenced, none is called, before it exits.
//   3  launch   the matched floor that, before it exits, starts iesetup.exe
//               from its own folder once with the arguments "/quiet
//               /norestart", waits for it and closes its two handles.
//
// Every floor ends with exit code 0.
#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

#ifndef FLOOR
#error "FLOOR must be 1 (bare), 2 (matched) or 3 (launch)"
#endif

namespace {

#if FLOOR >= 2
// Each address is handed to an empty assembler statement that the compiler
// must assume reads it, so that the linker keeps every import although no
// floor calls them (beyond those the launch floor uses).
template <typename F>
void Reference(F* function) {
  __asm__ __volatile__("" : : "r"(function));
}

void ReferenceImports() {
  // KERNEL32 (ExitProcess is called anyway).
  Reference(&::GetCommandLineW);
  Reference(&::GetStartupInfoW);
  Reference(&::GetModuleFileNameW);
  Reference(&::CreateProcessW);
  Reference(&::WaitForSingleObject);
  Reference(&::CloseHandle);
  Reference(&::GetProcessHeap);
  Reference(&::HeapAlloc);
  Reference(&::HeapFree);
  Reference(&::lstrlenW);
  // ADVAPI32.
  Reference(&::RegOpenKeyExW);
  Reference(&::RegQueryValueExW);
  Reference(&::RegCreateKeyExW);
  Reference(&::RegSetValueExW);
  Reference(&::RegCloseKey);
  // SHELL32.
  Reference(&::SHGetFolderPathW);
  // SHLWAPI.
  Reference(&::PathAppendW);
  Reference(&::PathRemoveFileSpecW);
}
#endif

#if FLOOR >= 3
constexpr wchar_t kSetupName[] = L"iesetup.exe";
constexpr wchar_t kArguments[] = L" /quiet /norestart";

// Appends `text` at `at`, within `capacity` units of `buffer`; returns the new
// end, or nullptr when the text and its terminator do not fit.
wchar_t* Append(wchar_t* buffer, DWORD capacity, wchar_t* at,
                const wchar_t* text) {
  for (; *text != 0; ++text) {
    if (at + 1 >= buffer + capacity) {
      return nullptr;
    }
    *at++ = *text;
  }
  *at = 0;
  return at;
}

void LaunchOnce() {
  wchar_t path[MAX_PATH];
  wchar_t commandLine[MAX_PATH + 32];
  const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    return;
  }
  wchar_t* name = path;
  for (wchar_t* unit = path; *unit != 0; ++unit) {
    if (*unit == L'\\') {
      name = unit + 1;
    }
  }
  *name = 0;
  if (Append(path, MAX_PATH, name, kSetupName) == nullptr) {
    return;
  }
  // The benchmark's folders hold no space, so the path needs no quotes.
  wchar_t* end = Append(commandLine, MAX_PATH + 32, commandLine, path);
  if (end == nullptr ||
      Append(commandLine, MAX_PATH + 32, end, kArguments) == nullptr) {
    return;
  }
  STARTUPINFOW startup = {};
  PROCESS_INFORMATION process = {};
  startup.cb = sizeof startup;
  if (::CreateProcessW(path, commandLine, nullptr, nullptr, FALSE, 0, nullptr,
                       nullptr, &startup, &process)) {
    ::WaitForSingleObject(process.hProcess, INFINITE);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
  }
}
#endif

}  // namespace

extern "C" void __stdcall AssistantEntry() {
#if FLOOR >= 2
  ReferenceImports();
#endif
#if FLOOR >= 3
  LaunchOnce();
#endif
  ::ExitProcess(0);
}
