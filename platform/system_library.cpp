#include "platform/system_library.h"

namespace platform {

namespace {

constexpr const char16_t* kKernel32 = u"kernel32.dll";

// kernel32 is mapped into every process before its first instruction, so
// asking for its handle loads nothing.
Procedure KernelProcedure(const char* procedureName) {
  const Module kernel = GetModuleHandleW(kKernel32);
  return kernel != 0 ? GetProcAddress(kernel, procedureName) : nullptr;
}

const char16_t* FileName(SystemLibrary library) {
  return library == SystemLibrary::kShlwapi ? u"shlwapi.dll" : u"shell32.dll";
}

// The full path of `fileName` in the system folder, in a MAX_PATH buffer;
// false when the folder is unknown or the two do not fit.
bool SystemPath(const char16_t* fileName, char16_t* path) {
  const Dword length = GetSystemDirectoryW(path, static_cast<Dword>(kMaxPath));
  if (length == 0 || length >= kMaxPath) {
    return false;  // unknown, or the answer is the size it would need
  }
  std::size_t end = length;
  if (path[end - 1] != u'\\') {
    path[end++] = u'\\';
  }
  for (const char16_t* unit = fileName; *unit != 0; ++unit) {
    if (end + 1 >= kMaxPath) {
      return false;
    }
    path[end++] = *unit;
  }
  path[end] = 0;
  return true;
}

// True when kernel32 has SetDefaultDllDirectories, and with it the
// LOAD_LIBRARY_SEARCH_* flags of LoadLibraryExW.
bool HasSearchPathUpdate() {
  return KernelProcedure("SetDefaultDllDirectories") != nullptr;
}

}  // namespace

void HardenProcess() {
  if (const Procedure dep = KernelProcedure("SetProcessDEPPolicy")) {
    CallProcedure(dep, kProcessDepEnable);
  }
  const Procedure search = KernelProcedure("SetDefaultDllDirectories");
  if (search != nullptr && CallProcedure(search, kLoadLibrarySearchSystem32)) {
    return;
  }
  // No update, or it refused: at least the current directory goes.
  if (const Procedure directory = KernelProcedure("SetDllDirectoryW")) {
    CallProcedure(directory, u"");
  }
}

Module LoadSystemLibrary(SystemLibrary library) {
  const char16_t* fileName = FileName(library);
  if (HasSearchPathUpdate()) {
    return LoadLibraryExW(fileName, 0, kLoadLibrarySearchSystem32);
  }
  char16_t path[kMaxPath] = {};
  if (!SystemPath(fileName, path)) {
    return 0;
  }
  return LoadLibraryExW(path, 0, kLoadWithAlteredSearchPath);
}

Procedure SystemProcedure(SystemLibrary library, const char* procedureName) {
  const Module module = LoadSystemLibrary(library);
  return module != 0 ? GetProcAddress(module, procedureName) : nullptr;
}

}  // namespace platform
