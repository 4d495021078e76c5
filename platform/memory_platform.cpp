#include "platform/memory_platform.h"

#include "platform/system_library.h"

#include <cstdlib>
#include <cstring>

namespace platform::memory {

const char* OpName(Op op) {
  static const char* const names[kOpCount] = {
      "GetCommandLineW",  "GetStartupInfoW",     "ExitProcess",
      "GetModuleFileNameW", "CreateProcessW",    "WaitForSingleObject",
      "CloseHandle",      "GetProcessHeap",      "HeapAlloc",
      "HeapFree",         "RegOpenKeyExW",       "RegQueryValueExW",
      "RegCreateKeyExW",  "RegSetValueExW",      "RegCloseKey",
      "SHGetFolderPathW", "PathAppendW",         "PathRemoveFileSpecW",
      "lstrlenW",         "GetModuleHandleW",    "GetProcAddress",
      "LoadLibraryExW",   "GetSystemDirectoryW", "SetProcessDEPPolicy",
      "SetDefaultDllDirectories", "SetDllDirectoryW",
  };
  return names[static_cast<int>(op)];
}

std::u16string Fold(const std::u16string& text) {
  std::u16string folded = text;
  for (char16_t& unit : folded) {
    if (unit >= u'A' && unit <= u'Z') {
      unit = static_cast<char16_t>(unit - u'A' + u'a');
    }
  }
  return folded;
}

std::vector<std::uint8_t> Bytes(const std::u16string& text, bool terminator) {
  std::vector<std::uint8_t> bytes;
  for (char16_t unit : text) {
    bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  if (terminator) {
    bytes.push_back(0);
    bytes.push_back(0);
  }
  return bytes;
}

std::string Narrow(const std::u16string& text) {
  std::string narrow;
  for (char16_t unit : text) {
    if (unit < 0x80) {
      narrow.push_back(static_cast<char>(unit));
    } else {
      static const char digits[] = "0123456789ABCDEF";
      narrow += "\\u";
      for (int shift = 12; shift >= 0; shift -= 4) {
        narrow.push_back(digits[(unit >> shift) & 0xF]);
      }
    }
  }
  return narrow;
}

Machine& Machine::Current() {
  static Machine machine;
  return machine;
}

void Machine::Reset() {
  for (auto& block : blocks_) {
    std::free(block.first);
  }
  *this = Machine();
}

std::u16string Machine::KeyPath(Hkey root, const std::u16string& subKey,
                                View view, bool wow64) {
  std::u16string path = root == kLocalMachine ? u"hklm" : u"hkcu";
  if (root == kLocalMachine && wow64) {
    path += view == View::k64 ? u"64" : u"32";
  }
  if (!subKey.empty()) {
    path += u"\\" + Fold(subKey);
  }
  return path;
}

std::u16string Machine::ChildPath(const std::u16string& parent,
                                  const std::u16string& subKey) const {
  return subKey.empty() ? parent : parent + u"\\" + Fold(subKey);
}

void Machine::CreateKey(Hkey root, const std::u16string& subKey, View view) {
  registry_[KeyPath(root, subKey, view, wow64)];
}

bool Machine::KeyExists(Hkey root, const std::u16string& subKey,
                        View view) const {
  return registry_.count(KeyPath(root, subKey, view, wow64)) != 0;
}

void Machine::SetValue(Hkey root, const std::u16string& subKey,
                       const std::u16string& name, Dword type,
                       std::vector<std::uint8_t> bytes, View view) {
  Value& value = registry_[KeyPath(root, subKey, view, wow64)][Fold(name)];
  value.type = type;
  value.bytes = std::move(bytes);
}

void Machine::SetString(Hkey root, const std::u16string& subKey,
                        const std::u16string& name, const std::u16string& text,
                        View view) {
  SetValue(root, subKey, name, kRegSz, Bytes(text, true), view);
}

const Value* Machine::FindValue(Hkey root, const std::u16string& subKey,
                                const std::u16string& name, View view) const {
  auto key = registry_.find(KeyPath(root, subKey, view, wow64));
  if (key == registry_.end()) {
    return nullptr;
  }
  auto value = key->second.find(Fold(name));
  return value == key->second.end() ? nullptr : &value->second;
}

void Machine::Fail(Op op, int nth) {
  failSet_[static_cast<int>(op)] = true;
  failNth_[static_cast<int>(op)] = nth;
}

bool Machine::ShouldFail(Op op) {
  const int index = static_cast<int>(op);
  const int call = ++callCount_[index];
  return failSet_[index] && (failNth_[index] == 0 || failNth_[index] == call);
}

Call& Machine::Log(Op op) {
  Call call;
  call.op = op;
  call.liveBlocks = blocks_.size();
  call.openKeys = keys_.size();
  call.openHandles = handles_.size();
  calls.push_back(call);
  return calls.back();
}

int Machine::CountCalls(Op op) const {
  int count = 0;
  for (const Call& call : calls) {
    count += call.op == op ? 1 : 0;
  }
  return count;
}

std::size_t Machine::RunningChildren() const {
  std::size_t running = 0;
  for (const auto& handle : handles_) {
    running += handle.second.isProcess && !handle.second.ended ? 1 : 0;
  }
  return running;
}

}  // namespace platform::memory

// ---------------------------------------------------------------------------
// The platform operations, acting on Machine::Current().

namespace platform {

using memory::Call;
using memory::Launch;
using memory::Value;
using memory::Machine;
using memory::View;
using memory::Fold;

namespace {

constexpr Status kEFail = static_cast<Status>(0x80004005u);
constexpr Status kEInvalidArg = static_cast<Status>(0x80070057u);
constexpr Status kErrorInvalidHandle = 6;
constexpr Dword kWaitObject0 = 0;
constexpr Dword kWaitFailed = 0xFFFFFFFFu;
constexpr Handle kProcessHeap = 0xBEEF;

Machine& M() { return Machine::Current(); }

std::u16string Text(const char16_t* text) {
  return text == nullptr ? std::u16string() : std::u16string(text);
}

bool IsPredefined(Hkey key) {
  return key == kLocalMachine || key == kCurrentUser;
}

}  // namespace

char16_t* GetCommandLineW() {
  Machine& m = M();
  m.Log(memory::Op::GetCommandLineW);
  if (m.ShouldFail(memory::Op::GetCommandLineW) || !m.commandLine) {
    return nullptr;
  }
  m.commandLineStorage_ = *m.commandLine;
  return m.commandLineStorage_.data();
}

void GetStartupInfoW(StartupInfo* startupInfo) {
  Machine& m = M();
  m.Log(memory::Op::GetStartupInfoW);  // cannot fail
  *startupInfo = StartupInfo();
  startupInfo->cb = kStartupInfoSize;
}

void ExitProcess(unsigned exitCode) {
  Machine& m = M();
  m.Log(memory::Op::ExitProcess);
  m.exitCode = exitCode;
}

Instance ImageBase() { return 0x400000; }

Dword GetModuleFileNameW(Instance module, char16_t* fileName, Dword size) {
  Machine& m = M();
  m.Log(memory::Op::GetModuleFileNameW);
  if (m.ShouldFail(memory::Op::GetModuleFileNameW) || module != 0 ||
      size == 0) {
    return 0;
  }
  // As on Windows: a path that does not fit is cut, terminated, and the
  // whole size is returned.
  const std::size_t length = m.modulePath.size();
  const std::size_t copied = length < size ? length : size - 1;
  std::memcpy(fileName, m.modulePath.data(), copied * sizeof(char16_t));
  fileName[copied] = 0;
  return length < size ? static_cast<Dword>(length) : size;
}

Bool CreateProcessW(const char16_t* applicationName, char16_t* commandLine,
                    void* processAttributes, void* threadAttributes,
                    Bool inheritHandles, Dword creationFlags, void* environment,
                    const char16_t* currentDirectory, StartupInfo* startupInfo,
                    ProcessInformation* processInformation) {
  Machine& m = M();
  Call& call = m.Log(memory::Op::CreateProcessW);
  call.text = Text(commandLine);
  call.access = creationFlags;
  if (m.ShouldFail(memory::Op::CreateProcessW)) {
    return 0;
  }
  if (applicationName == nullptr ||
      m.programs.count(Fold(applicationName)) == 0) {
    return 0;
  }
  Launch launch;
  launch.applicationName = applicationName;
  launch.commandLine = Text(commandLine);
  launch.processAttributes = processAttributes != nullptr;
  launch.threadAttributes = threadAttributes != nullptr;
  launch.inheritHandles = inheritHandles;
  launch.creationFlags = creationFlags;
  launch.environmentGiven = environment != nullptr;
  launch.currentDirectoryGiven = currentDirectory != nullptr;
  launch.startupInfo = *startupInfo;
  m.launches.push_back(launch);

  const Handle process = m.nextHandle_++;
  const Handle thread = m.nextHandle_++;
  m.handles_[process] = {true, false, m.launches.size() - 1};
  m.handles_[thread] = {false, false, m.launches.size() - 1};
  processInformation->process = process;
  processInformation->thread = thread;
  processInformation->processId = static_cast<Dword>(process);
  processInformation->threadId = static_cast<Dword>(thread);
  return 1;
}

Dword WaitForSingleObject(Handle handle, Dword milliseconds) {
  Machine& m = M();
  Call& call = m.Log(memory::Op::WaitForSingleObject);
  call.access = milliseconds;
  if (m.ShouldFail(memory::Op::WaitForSingleObject)) {
    return kWaitFailed;
  }
  auto found = m.handles_.find(handle);
  if (found == m.handles_.end() || !found->second.isProcess) {
    return kWaitFailed;
  }
  if (!found->second.ended) {
    found->second.ended = true;
    const Launch launch = m.launches[found->second.launch];
    if (m.onRun) {
      m.onRun(m, launch);
    }
  }
  return kWaitObject0;
}

Bool CloseHandle(Handle handle) {
  Machine& m = M();
  m.Log(memory::Op::CloseHandle);
  const bool fail = m.ShouldFail(memory::Op::CloseHandle);
  if (m.handles_.erase(handle) == 0) {
    return 0;
  }
  return fail ? 0 : 1;
}

Handle GetProcessHeap() {
  Machine& m = M();
  m.Log(memory::Op::GetProcessHeap);
  return m.ShouldFail(memory::Op::GetProcessHeap) ? 0 : kProcessHeap;
}

void* HeapAlloc(Handle heap, Dword, std::size_t bytes) {
  Machine& m = M();
  Call& call = m.Log(memory::Op::HeapAlloc);
  call.options = static_cast<Dword>(bytes);
  if (m.ShouldFail(memory::Op::HeapAlloc) || heap != kProcessHeap) {
    return nullptr;
  }
  void* block = std::malloc(bytes == 0 ? 1 : bytes);
  if (block != nullptr) {
    std::memset(block, 0xCD, bytes);  // a fresh block holds no terminator
    m.blocks_[block] = bytes;
  }
  return block;
}

Bool HeapFree(Handle heap, Dword, void* memory) {
  Machine& m = M();
  m.Log(memory::Op::HeapFree);
  const bool fail = m.ShouldFail(memory::Op::HeapFree);
  if (heap != kProcessHeap || m.blocks_.erase(memory) == 0) {
    return 0;
  }
  std::free(memory);
  return fail ? 0 : 1;
}

namespace {

// The path of the key that `key` and `subKey` name, or nothing when `key` is
// neither predefined nor open.
std::optional<std::u16string> Resolve(Machine& m, Hkey key,
                                      const char16_t* subKey, Dword access) {
  const std::u16string sub = Text(subKey);
  if (IsPredefined(key)) {
    const View view = (access & memory::kKeyWow64_64Key) != 0 ? View::k64 : View::k32;
    return Machine::KeyPath(key, sub, view, m.wow64);
  }
  auto open = m.keys_.find(key);
  if (open == m.keys_.end()) {
    return std::nullopt;
  }
  return m.ChildPath(open->second.path, sub);
}

Hkey OpenHandle(Machine& m, const std::u16string& path) {
  const Hkey handle = m.nextKey_++;
  m.keys_[handle] = {path};
  return handle;
}

}  // namespace

Status RegOpenKeyExW(Hkey key, const char16_t* subKey, Dword options,
                     Dword desired, Hkey* result) {
  Machine& m = M();
  Call& call = m.Log(memory::Op::RegOpenKeyExW);
  call.text = Text(subKey);
  call.root = key;
  call.access = desired;
  call.options = options;
  if (m.ShouldFail(memory::Op::RegOpenKeyExW)) {
    return kErrorAccessDenied;
  }
  auto path = Resolve(m, key, subKey, desired);
  if (!path) {
    return kErrorInvalidHandle;
  }
  if (m.registry_.count(*path) == 0) {
    return kErrorFileNotFound;
  }
  *result = OpenHandle(m, *path);
  return kErrorSuccess;
}

Status RegQueryValueExW(Hkey key, const char16_t* valueName, Dword* reserved,
                        Dword* type, std::uint8_t* data, Dword* dataBytes) {
  Machine& m = M();
  Call& call = m.Log(memory::Op::RegQueryValueExW);
  call.text = Text(valueName);
  call.options = dataBytes != nullptr ? *dataBytes : 0;
  if (m.ShouldFail(memory::Op::RegQueryValueExW)) {
    return kErrorAccessDenied;
  }
  if (reserved != nullptr) {
    return kEInvalidArg;
  }
  auto open = m.keys_.find(key);
  if (open == m.keys_.end()) {
    return kErrorInvalidHandle;
  }
  const auto& values = m.registry_[open->second.path];
  auto found = values.find(Fold(Text(valueName)));
  if (found == values.end()) {
    return kErrorFileNotFound;
  }
  const Value& value = found->second;
  const Dword size = static_cast<Dword>(value.bytes.size());
  if (type != nullptr) {
    *type = value.type;
  }
  if (data != nullptr && dataBytes != nullptr && size > *dataBytes) {
    // What the buffer holds after this is undefined: fill it with units
    // that are neither null nor part of any version text.
    std::memset(data, 0x7A, *dataBytes);
    *dataBytes = size;
    return kErrorMoreData;
  }
  if (data != nullptr && size != 0) {
    std::memcpy(data, value.bytes.data(), size);
  }
  if (dataBytes != nullptr) {
    *dataBytes = size;
  }
  return kErrorSuccess;
}

Status RegCreateKeyExW(Hkey key, const char16_t* subKey, Dword reserved,
                       char16_t* keyClass, Dword options, Dword desired,
                       void* securityAttributes, Hkey* result,
                       Dword* disposition) {
  Machine& m = M();
  Call& call = m.Log(memory::Op::RegCreateKeyExW);
  call.text = Text(subKey);
  call.root = key;
  call.access = desired;
  call.options = options;
  if (m.ShouldFail(memory::Op::RegCreateKeyExW)) {
    return kErrorAccessDenied;
  }
  if (reserved != 0 || keyClass != nullptr || securityAttributes != nullptr) {
    return kEInvalidArg;
  }
  auto path = Resolve(m, key, subKey, desired);
  if (!path) {
    return kErrorInvalidHandle;
  }
  const bool existed = m.registry_.count(*path) != 0;
  m.registry_[*path];
  if (disposition != nullptr) {
    *disposition = existed ? 2 : 1;  // REG_OPENED_EXISTING_KEY, REG_CREATED_NEW_KEY
  }
  *result = OpenHandle(m, *path);
  return kErrorSuccess;
}

Status RegSetValueExW(Hkey key, const char16_t* valueName, Dword reserved,
                      Dword type, const std::uint8_t* data, Dword dataBytes) {
  Machine& m = M();
  Call& call = m.Log(memory::Op::RegSetValueExW);
  call.text = Text(valueName);
  call.access = type;
  call.options = dataBytes;
  if (m.ShouldFail(memory::Op::RegSetValueExW)) {
    return kErrorAccessDenied;
  }
  if (reserved != 0) {
    return kEInvalidArg;
  }
  auto open = m.keys_.find(key);
  if (open == m.keys_.end()) {
    return kErrorInvalidHandle;
  }
  Value& value = m.registry_[open->second.path][Fold(Text(valueName))];
  value.type = type;
  value.bytes.assign(data, data + dataBytes);
  m.writes.push_back(open->second.path + u"\\" + Text(valueName));
  return kErrorSuccess;
}

Status RegCloseKey(Hkey key) {
  Machine& m = M();
  m.Log(memory::Op::RegCloseKey);
  const bool fail = m.ShouldFail(memory::Op::RegCloseKey);
  if (m.keys_.erase(key) == 0) {
    return kErrorInvalidHandle;
  }
  return fail ? kErrorAccessDenied : kErrorSuccess;
}

Status SHGetFolderPathW(Handle owner, int folder, Handle token, Dword flags,
                        char16_t* path) {
  Machine& m = M();
  if (SystemProcedure(SystemLibrary::kShell32, "SHGetFolderPathW") == nullptr) {
    return kEFail;
  }
  Call& call = m.Log(memory::Op::SHGetFolderPathW);
  call.access = static_cast<Dword>(folder);
  call.options = flags;
  if (m.ShouldFail(memory::Op::SHGetFolderPathW)) {
    return kEFail;
  }
  if (owner != 0 || token != 0 || folder != kCsidlProgramFiles ||
      flags != kShgfpTypeCurrent || m.programFiles.size() >= kMaxPath) {
    return kEInvalidArg;
  }
  std::memcpy(path, m.programFiles.c_str(),
              (m.programFiles.size() + 1) * sizeof(char16_t));
  return 0;
}

Bool PathAppendW(char16_t* path, const char16_t* more) {
  Machine& m = M();
  if (SystemProcedure(SystemLibrary::kShlwapi, "PathAppendW") == nullptr) {
    return 0;
  }
  Call& call = m.Log(memory::Op::PathAppendW);
  call.text = Text(more);
  if (m.ShouldFail(memory::Op::PathAppendW)) {
    return 0;
  }
  std::u16string joined = Text(path);
  std::u16string tail = Text(more);
  while (!tail.empty() && tail.front() == u'\\') {
    tail.erase(0, 1);
  }
  if (!joined.empty() && joined.back() != u'\\' && !tail.empty()) {
    joined += u'\\';
  }
  joined += tail;
  if (joined.size() >= kMaxPath) {
    path[0] = 0;  // as the shell does when the two do not fit
    return 0;
  }
  std::memcpy(path, joined.c_str(), (joined.size() + 1) * sizeof(char16_t));
  return 1;
}

Bool PathRemoveFileSpecW(char16_t* path) {
  Machine& m = M();
  if (SystemProcedure(SystemLibrary::kShlwapi, "PathRemoveFileSpecW") ==
      nullptr) {
    return 0;
  }
  Call& call = m.Log(memory::Op::PathRemoveFileSpecW);
  call.text = Text(path);
  if (m.ShouldFail(memory::Op::PathRemoveFileSpecW)) {
    return 0;
  }
  std::u16string text = Text(path);
  const std::size_t slash = text.rfind(u'\\');
  if (slash == std::u16string::npos) {
    if (text.empty()) {
      return 0;
    }
    path[0] = 0;
    return 1;
  }
  // "C:\name" keeps its root backslash.
  const std::size_t cut = (slash == 2 && text[1] == u':') ? 3 : slash;
  if (cut == text.size()) {
    return 0;
  }
  path[cut] = 0;
  return 1;
}

int lstrlenW(const char16_t* text) {
  Machine& m = M();
  Call& call = m.Log(memory::Op::lstrlenW);
  call.text = Text(text);
  if (m.ShouldFail(memory::Op::lstrlenW) || text == nullptr) {
    return 0;
  }
  return static_cast<int>(Text(text).size());
}

// --- libraries ----------------------------------------------------------

namespace {

constexpr Module kKernel32Module = 0x7C800000;

// What the kernel32 functions that GetProcAddress finds do on this machine:
// each records the setting it was given.
Bool RecordFlags(memory::Op op, std::optional<Dword>& setting, Dword flags) {
  Machine& m = M();
  Call& call = m.Log(op);
  call.access = flags;
  if (m.ShouldFail(op)) {
    return 0;
  }
  setting = flags;
  return 1;
}

Bool ModelSetProcessDEPPolicy(Dword flags) {
  return RecordFlags(memory::Op::SetProcessDEPPolicy, M().depPolicy, flags);
}

Bool ModelSetDefaultDllDirectories(Dword flags) {
  return RecordFlags(memory::Op::SetDefaultDllDirectories,
                     M().defaultDllDirectories, flags);
}

Bool ModelSetDllDirectoryW(const char16_t* directory) {
  Machine& m = M();
  Call& call = m.Log(memory::Op::SetDllDirectoryW);
  call.text = Text(directory);
  if (m.ShouldFail(memory::Op::SetDllDirectoryW)) {
    return 0;
  }
  // The empty text takes the current directory out of the search; null
  // puts the default search back.
  if (directory == nullptr) {
    m.dllDirectory.reset();
  } else {
    m.dllDirectory = Text(directory);
  }
  return 1;
}

// Stands for every export of the shell libraries: the platform functions
// above carry out the work themselves once the export was found.
void ModelShellExport() {}

std::u16string BaseName(const std::u16string& fileName) {
  const std::size_t slash = fileName.rfind(u'\\');
  return Fold(slash == std::u16string::npos ? fileName
                                            : fileName.substr(slash + 1));
}

bool Exports(const std::u16string& library, const std::string& name) {
  if (library == u"shlwapi.dll") {
    return name == "PathAppendW" || name == "PathRemoveFileSpecW";
  }
  if (library == u"shell32.dll") {
    return name == "SHGetFolderPathW";
  }
  return false;
}

}  // namespace

Module GetModuleHandleW(const char16_t* moduleName) {
  Machine& m = M();
  Call& call = m.Log(memory::Op::GetModuleHandleW);
  call.text = Text(moduleName);
  if (m.ShouldFail(memory::Op::GetModuleHandleW) || moduleName == nullptr) {
    return 0;
  }
  const std::u16string name = Fold(Text(moduleName));
  if (name == u"kernel32.dll") {
    return kKernel32Module;
  }
  auto loaded = m.modules_.find(name);
  return loaded == m.modules_.end() ? 0 : loaded->second;
}

Procedure GetProcAddress(Module module, const char* procedureName) {
  Machine& m = M();
  Call& call = m.Log(memory::Op::GetProcAddress);
  const std::string name = procedureName == nullptr ? "" : procedureName;
  call.text.assign(name.begin(), name.end());
  if (m.ShouldFail(memory::Op::GetProcAddress)) {
    return nullptr;
  }
  if (module == kKernel32Module) {
    if (name == "SetProcessDEPPolicy" && m.hasDepPolicy) {
      return reinterpret_cast<Procedure>(&ModelSetProcessDEPPolicy);
    }
    if (name == "SetDefaultDllDirectories" && m.hasSearchPathUpdate) {
      return reinterpret_cast<Procedure>(&ModelSetDefaultDllDirectories);
    }
    if (name == "SetDllDirectoryW" && m.hasDllDirectory) {
      return reinterpret_cast<Procedure>(&ModelSetDllDirectoryW);
    }
    return nullptr;
  }
  for (const auto& loaded : m.modules_) {
    if (loaded.second == module) {
      if (m.missingProcedures.count(name) != 0 ||
          !Exports(loaded.first, name)) {
        return nullptr;
      }
      return &ModelShellExport;
    }
  }
  return nullptr;  // not a module of this process
}

Module LoadLibraryExW(const char16_t* fileName, Handle file, Dword flags) {
  Machine& m = M();
  Call& call = m.Log(memory::Op::LoadLibraryExW);
  call.text = Text(fileName);
  call.access = flags;
  if (m.ShouldFail(memory::Op::LoadLibraryExW) || fileName == nullptr ||
      file != 0) {
    return 0;
  }
  // Without the update the loader refuses the search flags, which it does
  // not know (ERROR_INVALID_PARAMETER).
  if ((flags & kLoadLibrarySearchSystem32) != 0 && !m.hasSearchPathUpdate) {
    return 0;
  }
  // Windows refuses the altered search together with a search flag.
  if ((flags & kLoadLibrarySearchSystem32) != 0 &&
      (flags & kLoadWithAlteredSearchPath) != 0) {
    return 0;
  }
  const std::u16string name = BaseName(Text(fileName));
  if (m.missingLibraries.count(name) != 0) {
    return 0;
  }
  m.loads.push_back({Text(fileName), flags});
  auto loaded = m.modules_.find(name);
  if (loaded != m.modules_.end()) {
    return loaded->second;
  }
  const Module module = 0x10000000 + 0x100000 * (m.modules_.size() + 1);
  m.modules_[name] = module;
  return module;
}

Dword GetSystemDirectoryW(char16_t* buffer, Dword size) {
  Machine& m = M();
  m.Log(memory::Op::GetSystemDirectoryW);
  if (m.ShouldFail(memory::Op::GetSystemDirectoryW)) {
    return 0;
  }
  const std::size_t length = m.systemDirectory.size();
  if (length + 1 > size) {
    return static_cast<Dword>(length + 1);  // the size it needs
  }
  std::memcpy(buffer, m.systemDirectory.c_str(),
              (length + 1) * sizeof(char16_t));
  return static_cast<Dword>(length);
}

Bool CallProcedure(Procedure procedure, Dword argument) {
  return reinterpret_cast<Bool (*)(Dword)>(procedure)(argument);
}

Bool CallProcedure(Procedure procedure, const char16_t* argument) {
  return reinterpret_cast<Bool (*)(const char16_t*)>(procedure)(argument);
}

}  // namespace platform
