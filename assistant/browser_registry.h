// The assistant's contact with the browser's own state: the version probe and
// the welcome entry under the user's RunOnce key.
#pragma once

#include <cstddef>

#include "assistant/heap_text.h"
#include "platform/platform.h"

namespace assistant {

inline constexpr const char16_t* kBrowserKey =
    u"SOFTWARE\\Microsoft\\Internet Explorer";
inline constexpr const char16_t* kVersionValue = u"Version";
inline constexpr const char16_t* kRunOnceKey =
    u"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
inline constexpr const char16_t* kWelcomeValue = u"IE_Welcome";
inline constexpr const char16_t* kBrowserRelativePath =
    u"Internet Explorer\\iexplore.exe";

// The longest command line, in characters, that Windows runs from a RunOnce
// value.
inline constexpr std::size_t kMaxRunOnceCommand = 260;

// Units in the version buffer, terminator included.
inline constexpr platform::Dword kVersionCapacity = 64;

// Reads a REG_SZ or REG_EXPAND_SZ value of `capacity` units at most, its
// terminator included. ERROR_SUCCESS when the value was read and ends in a
// null unit within the bytes stored (an empty value reads as the empty text);
// the query's own status when it failed; ERROR_INVALID_DATA for another type,
// an odd byte count or a missing terminator; ERROR_MORE_DATA for an empty
// value when the capacity is 0, which leaves no room for its terminator.
platform::Status ReadStringValue(platform::Hkey key, const char16_t* valueName,
                                 char16_t* buffer, platform::Dword capacity);

// True when "8.0." occurs anywhere in the text before its first null.
bool ContainsIE8Version(const char16_t* text);

// Whether the machine-wide "Version" value names Internet Explorer 8; false
// also when nothing can be read. Allocates nothing.
bool IsIE8Installed();

enum class BrowserPath { kFound, kNotFound, kOutOfMemory };

// The Program Files folder joined with "Internet Explorer\iexplore.exe".
// kNotFound when the folder is unknown or the two do not fit in MAX_PATH:
// `path` is then left empty, never holding a relative path.
BrowserPath GetIExplorePath(HeapText& path);

enum class Welcome { kNotWritten, kWritten, kOutOfMemory };

// Stores the browser's quoted path as "IE_Welcome" (REG_SZ) under the
// current user's RunOnce key, creating the key when it is missing and
// replacing an older value. Writes nothing when the quoted path would be
// longer than kMaxRunOnceCommand.
Welcome RegisterWelcome();

}  // namespace assistant
