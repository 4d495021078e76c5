// An in-memory Windows for the host tests: a registry with 32- and 64-bit
// views, a Program Files folder, a module path, a process table whose
// children the test scripts, and a heap that counts its blocks. Every
// operation can be made to fail, and every call is logged together with what
// was open at that moment.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace platform::memory {

enum class Op {
  GetCommandLineW,
  GetStartupInfoW,
  ExitProcess,
  GetModuleFileNameW,
  CreateProcessW,
  WaitForSingleObject,
  CloseHandle,
  GetProcessHeap,
  HeapAlloc,
  HeapFree,
  RegOpenKeyExW,
  RegQueryValueExW,
  RegCreateKeyExW,
  RegSetValueExW,
  RegCloseKey,
  SHGetFolderPathW,
  PathAppendW,
  PathRemoveFileSpecW,
  lstrlenW,
  GetModuleHandleW,
  GetProcAddress,
  LoadLibraryExW,
  GetSystemDirectoryW,
  SetProcessDEPPolicy,
  SetDefaultDllDirectories,
  SetDllDirectoryW,
};
inline constexpr int kOpCount = static_cast<int>(Op::SetDllDirectoryW) + 1;
const char* OpName(Op op);

// Registry views: a 32-bit process on 64-bit Windows sees HKLM\SOFTWARE
// through the 32-bit view unless it asks for the other one.
enum class View { k32, k64 };
inline constexpr Dword kKeyWow64_64Key = 0x0100;
inline constexpr Dword kKeyWow64_32Key = 0x0200;

struct Value {
  Dword type = 0;
  std::vector<std::uint8_t> bytes;
};

// One platform call as the assistant made it.
struct Call {
  Op op;
  std::u16string text;   // subkey, value name, path or command line
  Hkey root = 0;         // for registry calls on a predefined key
  Dword access = 0;      // the access mask, options or flags passed
  Dword options = 0;
  std::size_t liveBlocks = 0;  // heap blocks live when the call was made
  std::size_t openKeys = 0;
  std::size_t openHandles = 0;
};

// A library that LoadLibraryExW loaded, and how it was asked for.
struct Load {
  std::u16string fileName;  // as passed: a bare name or a full path
  Dword flags = 0;
};

// What CreateProcessW was asked to start.
struct Launch {
  std::u16string applicationName;
  std::u16string commandLine;
  bool processAttributes = false;
  bool threadAttributes = false;
  Bool inheritHandles = 0;
  Dword creationFlags = 0;
  bool environmentGiven = false;
  bool currentDirectoryGiven = false;
  StartupInfo startupInfo = {};
};

class Machine {
 public:
  // The machine the platform functions act on; Reset() before each test.
  static Machine& Current();
  void Reset();

  // The machine's state is public on purpose: the tests set it up and read
  // it back directly, and the platform functions below work on it.
  // NOLINTBEGIN(misc-non-private-member-variables-in-classes)

  // --- what the machine holds -------------------------------------------
  std::optional<std::u16string> commandLine = u"C:\\Setup\\assistant.exe";
  std::u16string modulePath = u"C:\\Setup\\assistant.exe";
  std::u16string programFiles = u"C:\\Program Files";
  // Programs CreateProcessW can start, by full path (any case).
  std::set<std::u16string> programs;
  // What a started program does before it ends; it runs when the assistant
  // waits for it.
  std::function<void(Machine&, const Launch&)> onRun;
  bool wow64 = true;  // a 64-bit Windows: the registry has two views

  // Libraries. kernel32 is always there; which of its newer functions it
  // has depends on the system: SetProcessDEPPolicy from XP SP3,
  // SetDllDirectoryW from XP SP1, SetDefaultDllDirectories (with the
  // LOAD_LIBRARY_SEARCH_* flags) from Windows 8 or with the update.
  std::u16string systemDirectory = u"C:\\WINDOWS\\system32";
  bool hasDepPolicy = true;
  bool hasDllDirectory = true;
  bool hasSearchPathUpdate = true;
  // Libraries (lower-case file names) that cannot be loaded, and exports that
  // a loaded library lacks.
  std::set<std::u16string> missingLibraries;
  std::set<std::string> missingProcedures;
  // Every library loaded, in order (each attempt is also in `calls`); and
  // what the process set.
  std::vector<Load> loads;
  std::optional<Dword> depPolicy;
  std::optional<Dword> defaultDllDirectories;
  std::optional<std::u16string> dllDirectory;

  void SetValue(Hkey root, const std::u16string& subKey,
                const std::u16string& name, Dword type,
                std::vector<std::uint8_t> bytes, View view = View::k32);
  // A REG_SZ value stored with its terminator.
  void SetString(Hkey root, const std::u16string& subKey,
                 const std::u16string& name, const std::u16string& text,
                 View view = View::k32);
  void CreateKey(Hkey root, const std::u16string& subKey,
                 View view = View::k32);
  bool KeyExists(Hkey root, const std::u16string& subKey,
                 View view = View::k32) const;
  const Value* FindValue(Hkey root, const std::u16string& subKey,
                         const std::u16string& name,
                         View view = View::k32) const;
  // Values written since Reset, in order, as "subkey\name".
  std::vector<std::u16string> writes;

  // --- failures -----------------------------------------------------------
  // Makes the nth call (counting from 1) of `op` fail; 0 fails every call.
  void Fail(Op op, int nth = 0);

  // --- what happened ------------------------------------------------------
  std::vector<Call> calls;
  std::vector<Launch> launches;
  std::optional<unsigned> exitCode;
  int CountCalls(Op op) const;
  std::size_t LiveBlocks() const { return blocks_.size(); }
  std::size_t OpenKeys() const { return keys_.size(); }
  std::size_t OpenHandles() const { return handles_.size(); }
  std::size_t RunningChildren() const;

  // --- used by the platform functions ------------------------------------
  bool ShouldFail(Op op);
  Call& Log(Op op);
  struct OpenKey {
    std::u16string path;  // folded to lower case, root and view included
  };
  struct Child {
    bool isProcess = false;
    bool ended = false;
    std::size_t launch = 0;
  };
  std::map<Hkey, OpenKey> keys_;
  std::map<Handle, Child> handles_;
  std::map<void*, std::size_t> blocks_;
  Hkey nextKey_ = 0x1000;
  Handle nextHandle_ = 0x10;
  std::u16string commandLineStorage_;
  std::map<std::u16string, std::map<std::u16string, Value>> registry_;
  std::map<std::u16string, std::u16string> valueNames_;
  // Loaded libraries by lower-case file name.
  std::map<std::u16string, Module> modules_;

  static std::u16string KeyPath(Hkey root, const std::u16string& subKey,
                                View view, bool wow64);
  std::u16string ChildPath(const std::u16string& parent,
                           const std::u16string& subKey) const;
  // NOLINTEND(misc-non-private-member-variables-in-classes)

 private:
  int failNth_[kOpCount] = {};
  bool failSet_[kOpCount] = {};
  int callCount_[kOpCount] = {};
};

// Text helpers for the tests.
std::u16string Fold(const std::u16string& text);
std::vector<std::uint8_t> Bytes(const std::u16string& text, bool terminator);
std::string Narrow(const std::u16string& text);

}  // namespace platform::memory
