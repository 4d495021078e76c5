// The platform operations for the shipped executable: each forwards to the
// Windows API function of the same name. The image imports only KERNEL32 and
// ADVAPI32; the shell operations reach SHLWAPI and SHELL32 through
// SystemProcedure, and their headers are read for the functions' types only.
#include "platform/platform.h"
#include "platform/system_library.h"

#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

namespace platform {

namespace {

static_assert(sizeof(char16_t) == sizeof(wchar_t));
static_assert(sizeof(Dword) == sizeof(DWORD));
static_assert(sizeof(Hkey) == sizeof(HKEY));
static_assert(sizeof(Handle) == sizeof(HANDLE));
static_assert(sizeof(StartupInfo) == sizeof(STARTUPINFOW));
static_assert(kStartupInfoSize == sizeof(STARTUPINFOW));
static_assert(sizeof(ProcessInformation) == sizeof(PROCESS_INFORMATION));
static_assert(kMaxPath == MAX_PATH);

wchar_t* Wide(char16_t* text) { return reinterpret_cast<wchar_t*>(text); }
const wchar_t* Wide(const char16_t* text) {
  return reinterpret_cast<const wchar_t*>(text);
}
HKEY Key(Hkey key) { return reinterpret_cast<HKEY>(key); }
HANDLE Native(Handle handle) { return reinterpret_cast<HANDLE>(handle); }
DWORD* Native(Dword* value) { return reinterpret_cast<DWORD*>(value); }

static_assert(kStartfUseShowWindow == STARTF_USESHOWWINDOW);
static_assert(kStartfUseStdHandles == STARTF_USESTDHANDLES);
static_assert(kLoadWithAlteredSearchPath == LOAD_WITH_ALTERED_SEARCH_PATH);
static_assert(kLoadLibrarySearchSystem32 == 0x00000800);  // the update's
static_assert(kProcessDepEnable == 0x00000001);           // PROCESS_DEP_ENABLE

// The system library's export `name`, as a pointer of the type that the
// Windows header gives `Function`; null when it cannot be had.
template <typename Function>
Function* Bind(SystemLibrary library, const char* name) {
  return reinterpret_cast<Function*>(SystemProcedure(library, name));
}

}  // namespace

extern "C" IMAGE_DOS_HEADER __ImageBase;

char16_t* GetCommandLineW() {
  return reinterpret_cast<char16_t*>(::GetCommandLineW());
}

void GetStartupInfoW(StartupInfo* startupInfo) {
  ::GetStartupInfoW(reinterpret_cast<STARTUPINFOW*>(startupInfo));
}

void ExitProcess(unsigned exitCode) { ::ExitProcess(exitCode); }

Instance ImageBase() { return reinterpret_cast<Instance>(&__ImageBase); }

Dword GetModuleFileNameW(Instance module, char16_t* fileName, Dword size) {
  return ::GetModuleFileNameW(reinterpret_cast<HMODULE>(module),
                              Wide(fileName), size);
}

Bool CreateProcessW(const char16_t* applicationName, char16_t* commandLine,
                    void* processAttributes, void* threadAttributes,
                    Bool inheritHandles, Dword creationFlags, void* environment,
                    const char16_t* currentDirectory, StartupInfo* startupInfo,
                    ProcessInformation* processInformation) {
  return ::CreateProcessW(
      Wide(applicationName), Wide(commandLine),
      static_cast<SECURITY_ATTRIBUTES*>(processAttributes),
      static_cast<SECURITY_ATTRIBUTES*>(threadAttributes), inheritHandles,
      creationFlags, environment, Wide(currentDirectory),
      reinterpret_cast<STARTUPINFOW*>(startupInfo),
      reinterpret_cast<PROCESS_INFORMATION*>(processInformation));
}

Dword WaitForSingleObject(Handle handle, Dword milliseconds) {
  return ::WaitForSingleObject(Native(handle), milliseconds);
}

Bool CloseHandle(Handle handle) { return ::CloseHandle(Native(handle)); }

Handle GetProcessHeap() {
  return reinterpret_cast<Handle>(::GetProcessHeap());
}

void* HeapAlloc(Handle heap, Dword flags, std::size_t bytes) {
  return ::HeapAlloc(Native(heap), flags, bytes);
}

Bool HeapFree(Handle heap, Dword flags, void* memory) {
  return ::HeapFree(Native(heap), flags, memory);
}

Status RegOpenKeyExW(Hkey key, const char16_t* subKey, Dword options,
                     Dword desired, Hkey* result) {
  return ::RegOpenKeyExW(Key(key), Wide(subKey), options, desired,
                         reinterpret_cast<HKEY*>(result));
}

Status RegQueryValueExW(Hkey key, const char16_t* valueName, Dword* reserved,
                        Dword* type, std::uint8_t* data, Dword* dataBytes) {
  return ::RegQueryValueExW(Key(key), Wide(valueName), Native(reserved),
                            Native(type), data, Native(dataBytes));
}

Status RegCreateKeyExW(Hkey key, const char16_t* subKey, Dword reserved,
                       char16_t* keyClass, Dword options, Dword desired,
                       void* securityAttributes, Hkey* result,
                       Dword* disposition) {
  return ::RegCreateKeyExW(
      Key(key), Wide(subKey), reserved, Wide(keyClass), options, desired,
      static_cast<SECURITY_ATTRIBUTES*>(securityAttributes),
      reinterpret_cast<HKEY*>(result), Native(disposition));
}

Status RegSetValueExW(Hkey key, const char16_t* valueName, Dword reserved,
                      Dword type, const std::uint8_t* data, Dword dataBytes) {
  return ::RegSetValueExW(Key(key), Wide(valueName), reserved, type, data,
                          dataBytes);
}

Status RegCloseKey(Hkey key) { return ::RegCloseKey(Key(key)); }

Module GetModuleHandleW(const char16_t* moduleName) {
  return reinterpret_cast<Module>(::GetModuleHandleW(Wide(moduleName)));
}

Procedure GetProcAddress(Module module, const char* procedureName) {
  return reinterpret_cast<Procedure>(
      ::GetProcAddress(reinterpret_cast<HMODULE>(module), procedureName));
}

Module LoadLibraryExW(const char16_t* fileName, Handle file, Dword flags) {
  return reinterpret_cast<Module>(
      ::LoadLibraryExW(Wide(fileName), Native(file), flags));
}

Dword GetSystemDirectoryW(char16_t* buffer, Dword size) {
  return ::GetSystemDirectoryW(Wide(buffer), size);
}

Bool CallProcedure(Procedure procedure, Dword argument) {
  return reinterpret_cast<BOOL(WINAPI*)(DWORD)>(procedure)(argument);
}

Bool CallProcedure(Procedure procedure, const char16_t* argument) {
  return reinterpret_cast<BOOL(WINAPI*)(LPCWSTR)>(procedure)(Wide(argument));
}

Status SHGetFolderPathW(Handle owner, int folder, Handle token, Dword flags,
                        char16_t* path) {
  auto* const query = Bind<decltype(::SHGetFolderPathW)>(
      SystemLibrary::kShell32, "SHGetFolderPathW");
  if (query == nullptr) {
    return E_FAIL;
  }
  return query(reinterpret_cast<HWND>(owner), folder, Native(token), flags,
               Wide(path));
}

Bool PathAppendW(char16_t* path, const char16_t* more) {
  auto* const append =
      Bind<decltype(::PathAppendW)>(SystemLibrary::kShlwapi, "PathAppendW");
  return append != nullptr && append(Wide(path), Wide(more));
}

Bool PathRemoveFileSpecW(char16_t* path) {
  auto* const remove = Bind<decltype(::PathRemoveFileSpecW)>(
      SystemLibrary::kShlwapi, "PathRemoveFileSpecW");
  return remove != nullptr && remove(Wide(path));
}

int lstrlenW(const char16_t* text) { return ::lstrlenW(Wide(text)); }

}  // namespace platform
