#include "assistant/browser_registry.h"

#include "assistant/bounded_string.h"
#include "assistant/scoped_reg_key.h"

namespace assistant {

platform::Status ReadStringValue(platform::Hkey key, const char16_t* valueName,
                                 char16_t* buffer, platform::Dword capacity) {
  platform::Dword bytes = capacity * 2;
  platform::Dword type = 0;
  const platform::Status status = platform::RegQueryValueExW(
      key, valueName, nullptr, &type, reinterpret_cast<std::uint8_t*>(buffer),
      &bytes);
  if (status != platform::kErrorSuccess) {
    return status;
  }
  if (type != platform::kRegSz && type != platform::kRegExpandSz) {
    return platform::kErrorInvalidData;
  }
  if (bytes == 0) {
    if (capacity == 0) {
      return platform::kErrorMoreData;  // no room for the terminator
    }
    buffer[0] = 0;
    return platform::kErrorSuccess;
  }
  // A platform that reported more than it was given must not lead the
  // terminator test outside the buffer.
  if (bytes % 2 != 0 || bytes > capacity * 2) {
    return platform::kErrorInvalidData;
  }
  if (buffer[bytes / 2 - 1] != 0) {
    return platform::kErrorInvalidData;
  }
  return platform::kErrorSuccess;
}

bool ContainsIE8Version(const char16_t* text) {
  static constexpr char16_t kPattern[] = u"8.0.";
  for (const char16_t* start = text; *start != 0; ++start) {
    std::size_t i = 0;
    while (kPattern[i] != 0 && start[i] == kPattern[i]) {
      ++i;
    }
    if (kPattern[i] == 0) {
      return true;
    }
  }
  return false;
}

bool IsIE8Installed() {
  char16_t version[kVersionCapacity] = {};
  platform::Hkey handle = 0;
  if (platform::RegOpenKeyExW(platform::kLocalMachine, kBrowserKey, 0,
                              platform::kKeyRead,
                              &handle) != platform::kErrorSuccess) {
    return false;
  }
  ScopedRegKey key(handle);
  return ReadStringValue(key.Get(), kVersionValue, version,
                         kVersionCapacity) == platform::kErrorSuccess &&
         ContainsIE8Version(version);
}

BrowserPath GetIExplorePath(HeapText& path) {
  path.Release();
  char16_t buffer[platform::kMaxPath] = {};
  if (platform::SHGetFolderPathW(0, platform::kCsidlProgramFiles, 0,
                                 platform::kShgfpTypeCurrent,
                                 buffer) != 0 ||
      buffer[0] == 0 ||
      !platform::PathAppendW(buffer, kBrowserRelativePath)) {
    return BrowserPath::kNotFound;
  }
  path = HeapText::CopyOf(buffer);
  if (!path) {
    return BrowserPath::kOutOfMemory;
  }
  return BrowserPath::kFound;
}

Welcome RegisterWelcome() {
  platform::Hkey handle = 0;
  if (platform::RegCreateKeyExW(platform::kCurrentUser, kRunOnceKey, 0,
                                nullptr, platform::kRegOptionNonVolatile,
                                platform::kKeyWrite, nullptr, &handle,
                                nullptr) != platform::kErrorSuccess) {
    return Welcome::kNotWritten;
  }
  ScopedRegKey key(handle);

  HeapText path;
  const BrowserPath found = GetIExplorePath(path);
  if (found == BrowserPath::kOutOfMemory) {
    return Welcome::kOutOfMemory;
  }
  if (found == BrowserPath::kNotFound) {
    return Welcome::kNotWritten;
  }

  // The RunOnce command is the path in quotes, so that no program at a
  // shorter path with a space in it ("C:\Program.exe") starts instead.
  // Windows runs a RunOnce command line of at most 260 characters: one it
  // would cut or refuse is worse than none.
  if (TextLength(path.Units()) + 2 > kMaxRunOnceCommand) {
    return Welcome::kNotWritten;
  }
  char16_t command[kMaxRunOnceCommand + 1] = {};
  FormatBounded(command, kMaxRunOnceCommand + 1, u"\"%s\"", {path.Units()});
  path.Release();
  const int length = platform::lstrlenW(command);
  if (length <= 0) {
    return Welcome::kNotWritten;
  }
  const platform::Status status = platform::RegSetValueExW(
      key.Get(), kWelcomeValue, 0, platform::kRegSz,
      reinterpret_cast<const std::uint8_t*>(command),
      static_cast<platform::Dword>((length + 1) * 2));
  return status == platform::kErrorSuccess ? Welcome::kWritten
                                           : Welcome::kNotWritten;
}

}  // namespace assistant
