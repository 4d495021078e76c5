// The floors the benchmark sets beside the assistant: the least that an
// executable built like it (same compiler, options, entry point, no C
// runtime) can do, at four levels. FLOOR chooses one at compile time:
//
//   1  bare     its entry point calls ExitProcess(0); imports only KERNEL32.
//   2  matched  the bare floor importing what the assistant imports, DLLs and
//               functions alike (assistant_imports.h, written from the
//               assistant's import table by bench/import_list.py): each is
//               referenced, none is called, before it exits.
//   3  launch   the matched floor that also does what the assistant's full
//               run loads and starts, the least way: it limits the library
//               search to the system folder (SetDefaultDllDirectories, where
//               kernel32 has it), loads SHLWAPI from there and finds
//               PathRemoveFileSpecW and PathAppendW, starts iesetup.exe from
//               its own folder once with the arguments "/quiet /norestart",
//               waits for it and closes its two handles, then loads SHELL32
//               the same way and finds SHGetFolderPathW. Without
//               SetDefaultDllDirectories each library is loaded by its full
//               path in the system folder.
//   4  static-shell
//               the matched floor that also imports SHELL32
//               (SHGetFolderPathW) and SHLWAPI (PathAppendW,
//               PathRemoveFileSpecW), as the assistant did when it imported
//               them instead of loading them at first use.
//
// Every floor ends with exit code 0.
#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

#ifndef FLOOR
#error "FLOOR must be 1 (bare), 2 (matched), 3 (launch) or 4 (static-shell)"
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
#define BENCH_IMPORT(library, function) Reference(&::function);
#include "assistant_imports.h"
#undef BENCH_IMPORT
#if FLOOR == 4
  Reference(&::SHGetFolderPathW);
  Reference(&::PathAppendW);
  Reference(&::PathRemoveFileSpecW);
#endif
}
#endif

#if FLOOR == 3
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

// Limits the library search to the system folder where kernel32 can; true
// when it could, and with it LoadLibraryExW takes the search flags.
bool LimitSearch() {
  const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
  const FARPROC limit =
      kernel != nullptr ? ::GetProcAddress(kernel, "SetDefaultDllDirectories")
                        : nullptr;
  if (limit == nullptr) {
    return false;
  }
  reinterpret_cast<BOOL(WINAPI*)(DWORD)>(reinterpret_cast<void*>(limit))(
      LOAD_LIBRARY_SEARCH_SYSTEM32);
  return true;
}

HMODULE LoadFromSystem(bool limited, const wchar_t* name) {
  if (limited) {
    return ::LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  }
  wchar_t path[MAX_PATH];
  const DWORD length = ::GetSystemDirectoryW(path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    return nullptr;
  }
  wchar_t* end = path + length;
  if (end[-1] != L'\\') {
    end = Append(path, MAX_PATH, end, L"\\");
  }
  if (end == nullptr || Append(path, MAX_PATH, end, name) == nullptr) {
    return nullptr;
  }
  return ::LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

// Loads the library and finds each export, referencing what it found.
void Bind(bool limited, const wchar_t* name, const char* const* exports) {
  const HMODULE library = LoadFromSystem(limited, name);
  if (library == nullptr) {
    return;
  }
  for (; *exports != nullptr; ++exports) {
    Reference(::GetProcAddress(library, *exports));
  }
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
  startup.dwFlags = STARTF_USESTDHANDLES;  // no standard handles, as the launcher
  if (::CreateProcessW(path, commandLine, nullptr, nullptr, FALSE, 0, nullptr,
                       nullptr, &startup, &process)) {
    ::WaitForSingleObject(process.hProcess, INFINITE);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
  }
}

void FullRun() {
  static const char* const kShlwapiExports[] = {"PathRemoveFileSpecW",
                                                "PathAppendW", nullptr};
  static const char* const kShell32Exports[] = {"SHGetFolderPathW", nullptr};
  const bool limited = LimitSearch();
  Bind(limited, L"shlwapi.dll", kShlwapiExports);
  LaunchOnce();
  Bind(limited, L"shell32.dll", kShell32Exports);
}
#endif

}  // namespace

extern "C" void __stdcall AssistantEntry() {
#if FLOOR >= 2
  ReferenceImports();
#endif
#if FLOOR == 3
  FullRun();
#endif
  ::ExitProcess(0);
}
