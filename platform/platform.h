// The boundary between the assistant and the operating system.
//
// Every call the assistant makes to Windows goes through one of these
// functions. They carry the Windows names and argument order; the types are
// the assistant's own so that no Windows header is needed above this line.
// Two builds provide them: windows_platform.cpp forwards to the real API,
// memory_platform.cpp is an in-memory machine for the host tests.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

using Dword = std::uint32_t;
using Status = std::int32_t;  // LSTATUS / HRESULT
using Bool = std::int32_t;    // BOOL

// Registry keys, handles and the module handle travel as opaque numbers.
using Hkey = std::uintptr_t;
using Handle = std::uintptr_t;
using Instance = std::uintptr_t;
using Module = std::uintptr_t;
// The address of a library's export, as GetProcAddress answers it; it is
// called only after a cast to the export's own type.
using Procedure = void (*)();

inline constexpr Hkey kLocalMachine = 0x80000002u;
inline constexpr Hkey kCurrentUser = 0x80000001u;

inline constexpr Status kErrorSuccess = 0;
inline constexpr Status kErrorFileNotFound = 2;
inline constexpr Status kErrorAccessDenied = 5;
inline constexpr Status kErrorNotEnoughMemory = 8;
inline constexpr Status kErrorInvalidData = 13;
inline constexpr Status kErrorMoreData = 234;

inline constexpr Dword kRegSz = 1;
inline constexpr Dword kRegExpandSz = 2;

inline constexpr Dword kKeyRead = 0x20019;
inline constexpr Dword kKeyWrite = 0x20006;
inline constexpr Dword kRegOptionNonVolatile = 0;

inline constexpr int kCsidlProgramFiles = 0x26;
inline constexpr Dword kShgfpTypeCurrent = 0;
inline constexpr Dword kInfinite = 0xFFFFFFFFu;
inline constexpr Dword kStartfUseShowWindow = 0x1;
inline constexpr Dword kStartfUseStdHandles = 0x100;
inline constexpr int kSwShowDefault = 10;

// LoadLibraryExW: a full path's folder is searched for the library's own
// imports; only the system folder is searched (Windows 8 and later, and
// Vista and 7 with the search-path update).
inline constexpr Dword kLoadWithAlteredSearchPath = 0x00000008;
inline constexpr Dword kLoadLibrarySearchSystem32 = 0x00000800;
// SetProcessDEPPolicy: DEP on for the process, for good.
inline constexpr Dword kProcessDepEnable = 0x00000001;

// MAX_PATH, terminator included.
inline constexpr std::size_t kMaxPath = 260;
// The longest command line process creation accepts, terminator included.
inline constexpr std::size_t kMaxCommandLine = 32767;

// The layouts of STARTUPINFOW and PROCESS_INFORMATION for a 32-bit process;
// the Windows side checks them against the real structures.
struct StartupInfo {
  Dword cb;
  char16_t* reserved;
  char16_t* desktop;
  char16_t* title;
  Dword x, y, xSize, ySize, xCountChars, yCountChars, fillAttribute, flags;
  std::uint16_t showWindow;
  std::uint16_t cbReserved2;
  std::uint8_t* reserved2;
  Handle stdInput, stdOutput, stdError;
};

struct ProcessInformation {
  Handle process;
  Handle thread;
  Dword processId;
  Dword threadId;
};

// The size the launcher puts into StartupInfo::cb: sizeof(STARTUPINFOW) in a
// 32-bit process, whatever the build's own pointer size.
inline constexpr Dword kStartupInfoSize = 68;

// Process.
char16_t* GetCommandLineW();
void GetStartupInfoW(StartupInfo* startupInfo);
// Never returns on Windows; the in-memory platform records the code.
void ExitProcess(unsigned exitCode);
// The module handle of the assistant's own executable.
Instance ImageBase();
Dword GetModuleFileNameW(Instance module, char16_t* fileName, Dword size);
Bool CreateProcessW(const char16_t* applicationName, char16_t* commandLine,
                    void* processAttributes, void* threadAttributes,
                    Bool inheritHandles, Dword creationFlags, void* environment,
                    const char16_t* currentDirectory, StartupInfo* startupInfo,
                    ProcessInformation* processInformation);
Dword WaitForSingleObject(Handle handle, Dword milliseconds);
Bool CloseHandle(Handle handle);

// Heap.
Handle GetProcessHeap();
void* HeapAlloc(Handle heap, Dword flags, std::size_t bytes);
Bool HeapFree(Handle heap, Dword flags, void* memory);

// Registry.
Status RegOpenKeyExW(Hkey key, const char16_t* subKey, Dword options,
                     Dword desired, Hkey* result);
Status RegQueryValueExW(Hkey key, const char16_t* valueName, Dword* reserved,
                        Dword* type, std::uint8_t* data, Dword* dataBytes);
Status RegCreateKeyExW(Hkey key, const char16_t* subKey, Dword reserved,
                       char16_t* keyClass, Dword options, Dword desired,
                       void* securityAttributes, Hkey* result,
                       Dword* disposition);
Status RegSetValueExW(Hkey key, const char16_t* valueName, Dword reserved,
                      Dword type, const std::uint8_t* data, Dword dataBytes);
Status RegCloseKey(Hkey key);

// Libraries. SHLWAPI and SHELL32 are not imported: the shell operations
// below find their functions with SystemProcedure (system_library.h).
Module GetModuleHandleW(const char16_t* moduleName);
Procedure GetProcAddress(Module module, const char* procedureName);
Module LoadLibraryExW(const char16_t* fileName, Handle file, Dword flags);
Dword GetSystemDirectoryW(char16_t* buffer, Dword size);
// Call a procedure that GetProcAddress found, of the type
// BOOL WINAPI (DWORD) or BOOL WINAPI (LPCWSTR).
Bool CallProcedure(Procedure procedure, Dword argument);
Bool CallProcedure(Procedure procedure, const char16_t* argument);

// Shell folders and path helpers; each fails as it does on Windows, and
// also when its library or function cannot be had.
Status SHGetFolderPathW(Handle owner, int folder, Handle token, Dword flags,
                        char16_t* path);
Bool PathAppendW(char16_t* path, const char16_t* more);
Bool PathRemoveFileSpecW(char16_t* path);
int lstrlenW(const char16_t* text);

}  // namespace platform
