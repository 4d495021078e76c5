#include "assistant/browser_registry.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "tests/unit/machine.h"

namespace assistant {
namespace {

using platform::memory::Bytes;
using platform::memory::Narrow;
using testing::kBrowserKey;
using testing::MachineTest;
using testing::Op;

std::vector<std::uint8_t> Concat(std::vector<std::uint8_t> a,
                                 const std::vector<std::uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// A version text of exactly `units` units that contains "8.0.".
std::u16string VersionOfLength(std::size_t units) {
  std::u16string text = u"8.0.";
  text.resize(units, u'1');
  return text;
}

struct StoredValue {
  const char* name;
  platform::Dword type;
  std::vector<std::uint8_t> bytes;
  platform::Status status;  // what ReadStringValue answers
  bool installed;           // what IsIE8Installed answers
};

// GoogleTest prints a case by its name, never as a dump of its bytes.
void PrintTo(const StoredValue& c, std::ostream* out) { *out << c.name; }

class StoredVersionTest : public MachineTest,
                          public ::testing::WithParamInterface<StoredValue> {};

TEST_P(StoredVersionTest, ReadAndProbe) {
  const StoredValue& v = GetParam();
  machine().SetValue(platform::kLocalMachine, kBrowserKey, u"Version", v.type,
                     v.bytes);

  platform::Hkey key = 0;
  ASSERT_EQ(platform::RegOpenKeyExW(platform::kLocalMachine, kBrowserKey, 0,
                                    platform::kKeyRead, &key),
            platform::kErrorSuccess);
  char16_t buffer[kVersionCapacity] = {};
  EXPECT_EQ(ReadStringValue(key, u"Version", buffer, kVersionCapacity),
            v.status);
  platform::RegCloseKey(key);

  EXPECT_EQ(IsIE8Installed(), v.installed);
  EXPECT_EQ(machine().OpenKeys(), 0u);
}

constexpr platform::Dword kSz = platform::kRegSz;
constexpr platform::Dword kExpand = platform::kRegExpandSz;
constexpr platform::Status kOk = platform::kErrorSuccess;
constexpr platform::Status kBad = platform::kErrorInvalidData;
constexpr platform::Status kMore = platform::kErrorMoreData;

INSTANTIATE_TEST_SUITE_P(
    Values, StoredVersionTest,
    ::testing::Values(
        StoredValue{"ie8_sz_30_bytes", kSz, Bytes(u"8.0.6001.18702", true),
                    kOk, true},
        StoredValue{"ie8_expand_sz", kExpand, Bytes(u"8.0.6001.18702", true),
                    kOk, true},
        StoredValue{"ie7", kSz, Bytes(u"7.0.5730.13", true), kOk, false},
        StoredValue{"no_second_dot", kSz, Bytes(u"8.0", true), kOk, false},
        StoredValue{"ie8_zero", kSz, Bytes(u"8.0.0", true), kOk, true},
        StoredValue{"substring_18_0_1", kSz, Bytes(u"18.0.1", true), kOk,
                    true},
        StoredValue{"wine_default", kSz, Bytes(u"9.11.9600.18376", true), kOk,
                    false},
        StoredValue{"empty_0_bytes", kSz, {}, kOk, false},
        StoredValue{"null_only_2_bytes", kSz, Bytes(u"", true), kOk, false},
        StoredValue{"no_terminator_28_bytes", kSz,
                    Bytes(u"8.0.6001.18702", false), kBad, false},
        // 29 bytes whose last whole unit is a null: only the odd count
        // refuses them.
        StoredValue{"odd_29_bytes", kSz,
                    Concat(Bytes(u"8.0.6001.1870", true), {0}), kBad, false},
        StoredValue{"63_units_128_bytes", kSz, Bytes(VersionOfLength(63), true),
                    kOk, true},
        StoredValue{"64_units_unterminated_128_bytes", kSz,
                    Bytes(VersionOfLength(64), false), kBad, false},
        StoredValue{"64_units_130_bytes", kSz,
                    Bytes(VersionOfLength(64), true), kMore, false},
        StoredValue{"match_behind_embedded_null", kSz,
                    Concat(Bytes(u"7.0", true), Bytes(u"8.0.1", true)), kOk,
                    false},
        StoredValue{"match_late_in_text", kSz,
                    Bytes(std::u16string(40, u'x') + u"8.0.", true), kOk,
                    true},
        StoredValue{"dword", 4, {0x38, 0x2E, 0x30, 0x2E}, kBad, false},
        StoredValue{"binary_spelling_ie8", 3, Bytes(u"8.0.6001", true), kBad,
                    false},
        StoredValue{"multi_sz", 7,
                    Concat(Bytes(u"8.0.6001", true), Bytes(u"", true)), kBad,
                    false},
        StoredValue{"empty_of_wrong_type", 4, {}, kBad, false},
        StoredValue{"wide_nonascii_dot", kSz, Bytes(u"8\uff0e0\uff0e1", true),
                    kOk, false}),
    [](const ::testing::TestParamInfo<StoredValue>& info) {
      return std::string(info.param.name);
    });

TEST_F(MachineTest, ReadIntoNoRoomWritesNothing) {
  // A buffer of no units has no room even for the empty text's terminator.
  for (const auto& bytes :
       {std::vector<std::uint8_t>{}, Bytes(u"", true), Bytes(u"8.0.1", true)}) {
    machine().Reset();
    machine().SetValue(platform::kLocalMachine, kBrowserKey, u"Version", kSz,
                       bytes);
    platform::Hkey key = 0;
    ASSERT_EQ(platform::RegOpenKeyExW(platform::kLocalMachine, kBrowserKey, 0,
                                      platform::kKeyRead, &key),
              platform::kErrorSuccess);
    char16_t guard[1] = {u'#'};
    EXPECT_EQ(ReadStringValue(key, u"Version", guard, 0), kMore)
        << bytes.size() << " bytes";
    EXPECT_EQ(guard[0], u'#');
    platform::RegCloseKey(key);
  }
}

TEST_F(MachineTest, ProbeOpensTheBrowserKeyForReadingOnly) {
  SetVersion(u"8.0.6001.18702");
  EXPECT_TRUE(IsIE8Installed());
  ASSERT_EQ(machine().CountCalls(Op::RegOpenKeyExW), 1);
  const auto& open = machine().calls.front();
  EXPECT_EQ(open.root, platform::kLocalMachine);
  EXPECT_EQ(Narrow(open.text), "SOFTWARE\\Microsoft\\Internet Explorer");
  EXPECT_EQ(open.access, 0x20019u);
  EXPECT_EQ(open.options, 0u);
  EXPECT_EQ(machine().CountCalls(Op::RegQueryValueExW), 1);
  EXPECT_EQ(machine().CountCalls(Op::RegCloseKey), 1);
  EXPECT_EQ(machine().CountCalls(Op::HeapAlloc), 0);
  EXPECT_EQ(machine().CountCalls(Op::RegCreateKeyExW), 0);
  EXPECT_TRUE(machine().writes.empty());
}

TEST_F(MachineTest, ProbeGivesTheQueryTheWholeBuffer) {
  SetVersion(u"8.0.6001.18702");
  IsIE8Installed();
  for (const auto& call : machine().calls) {
    if (call.op == Op::RegQueryValueExW) {
      EXPECT_EQ(Narrow(call.text), "Version");
      EXPECT_EQ(call.options, 128u);
    }
  }
}

TEST_F(MachineTest, ProbeFalseWithoutKeyOrValueAndClosesWhatItOpened) {
  EXPECT_FALSE(IsIE8Installed());
  EXPECT_EQ(machine().CountCalls(Op::RegCloseKey), 0);

  machine().CreateKey(platform::kLocalMachine, kBrowserKey);
  EXPECT_FALSE(IsIE8Installed());
  EXPECT_EQ(machine().CountCalls(Op::RegCloseKey), 1);
  EXPECT_EQ(machine().OpenKeys(), 0u);
}

TEST_F(MachineTest, ProbeReadsTheThirtyTwoBitView) {
  machine().SetString(platform::kLocalMachine, kBrowserKey, u"Version",
                      u"8.0.6001.18702", platform::memory::View::k64);
  EXPECT_FALSE(IsIE8Installed());
}

TEST_F(MachineTest, ProbeFalseWhenTheOpenOrQueryFails) {
  SetVersion(u"8.0.6001.18702");
  machine().Fail(Op::RegOpenKeyExW);
  EXPECT_FALSE(IsIE8Installed());
  machine().Reset();
  SetVersion(u"8.0.6001.18702");
  machine().Fail(Op::RegQueryValueExW);
  EXPECT_FALSE(IsIE8Installed());
  EXPECT_EQ(machine().OpenKeys(), 0u);
}

TEST(ContainsIE8Version, ComparesUnitsExactly) {
  EXPECT_TRUE(ContainsIE8Version(u"8.0."));
  EXPECT_TRUE(ContainsIE8Version(u"x8.0.y"));
  EXPECT_FALSE(ContainsIE8Version(u"8.0"));
  EXPECT_FALSE(ContainsIE8Version(u"8,0."));
  EXPECT_FALSE(ContainsIE8Version(u""));
  EXPECT_FALSE(ContainsIE8Version(u"8.0\u0000."));
  EXPECT_TRUE(ContainsIE8Version(u"88.0.8.0."));
}

// --- the welcome entry -------------------------------------------------

std::u16string StoredText(const platform::memory::Value& value) {
  std::u16string text;
  for (std::size_t i = 0; i + 1 < value.bytes.size(); i += 2) {
    text.push_back(static_cast<char16_t>(value.bytes[i] |
                                         (value.bytes[i + 1] << 8)));
  }
  return text;
}

TEST_F(MachineTest, WelcomeStoresTheQuotedBrowserPath) {
  EXPECT_EQ(RegisterWelcome(), Welcome::kWritten);
  const auto* value = Welcome();
  ASSERT_NE(value, nullptr);
  EXPECT_EQ(value->type, platform::kRegSz);
  EXPECT_EQ(value->bytes.size(), 100u);
  EXPECT_EQ(Narrow(StoredText(*value)),
            std::string("\"C:\\Program Files\\Internet Explorer\\iexplore.exe\"") +
                std::string(1, '\0'));
  EXPECT_EQ(machine().OpenKeys(), 0u);
  EXPECT_EQ(machine().LiveBlocks(), 0u);
  EXPECT_EQ(machine().CountCalls(Op::HeapAlloc), 1);
}

TEST_F(MachineTest, WelcomeOpensRunOnceForWritingAndCreatesIt) {
  ASSERT_FALSE(machine().KeyExists(platform::kCurrentUser, testing::kRunOnce));
  EXPECT_EQ(RegisterWelcome(), Welcome::kWritten);
  EXPECT_TRUE(machine().KeyExists(platform::kCurrentUser, testing::kRunOnce));
  for (const auto& call : machine().calls) {
    if (call.op == Op::RegCreateKeyExW) {
      EXPECT_EQ(call.root, platform::kCurrentUser);
      EXPECT_EQ(Narrow(call.text),
                "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce");
      EXPECT_EQ(call.access, 0x20006u);
      EXPECT_EQ(call.options, 0u);
    }
    if (call.op == Op::RegSetValueExW) {
      EXPECT_EQ(Narrow(call.text), "IE_Welcome");
      EXPECT_EQ(call.access, platform::kRegSz);
    }
  }
  ASSERT_EQ(machine().writes.size(), 1u);
}

TEST_F(MachineTest, WelcomeReplacesAnOlderEntryAndKeepsOthers) {
  machine().SetString(platform::kCurrentUser, testing::kRunOnce, u"IE_Welcome",
                      u"C:\\old.exe");
  machine().SetString(platform::kCurrentUser, testing::kRunOnce, u"Other",
                      u"C:\\other.exe");
  EXPECT_EQ(RegisterWelcome(), Welcome::kWritten);
  ASSERT_NE(Welcome(), nullptr);
  EXPECT_EQ(Welcome()->bytes.size(), 100u);
  EXPECT_NE(machine().FindValue(platform::kCurrentUser, testing::kRunOnce,
                                u"Other"),
            nullptr);
}

TEST_F(MachineTest, WelcomeFollowsTheProgramFilesFolder) {
  machine().programFiles = u"C:\\Program Files (x86)";
  EXPECT_EQ(RegisterWelcome(), Welcome::kWritten);
  ASSERT_NE(Welcome(), nullptr);
  EXPECT_EQ(Narrow(StoredText(*Welcome())),
            std::string("\"C:\\Program Files (x86)\\Internet "
                        "Explorer\\iexplore.exe\"") +
                std::string(1, '\0'));
}

struct WelcomeFailure {
  const char* name;
  Op op;
  Welcome result;
};

// GoogleTest prints a case by its name, never as a dump of its bytes.
void PrintTo(const WelcomeFailure& c, std::ostream* out) { *out << c.name; }

class WelcomeFailureTest : public MachineTest,
                           public ::testing::WithParamInterface<WelcomeFailure> {
};

TEST_P(WelcomeFailureTest, WritesNothingAndClosesTheKey) {
  machine().Fail(GetParam().op);
  EXPECT_EQ(RegisterWelcome(), GetParam().result);
  EXPECT_EQ(Welcome(), nullptr);
  EXPECT_EQ(machine().OpenKeys(), 0u);
  EXPECT_EQ(machine().LiveBlocks(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, WelcomeFailureTest,
    ::testing::Values(
        WelcomeFailure{"create_refused", Op::RegCreateKeyExW,
                       Welcome::kNotWritten},
        WelcomeFailure{"set_refused", Op::RegSetValueExW, Welcome::kNotWritten},
        WelcomeFailure{"no_program_files", Op::SHGetFolderPathW,
                       Welcome::kNotWritten},
        WelcomeFailure{"append_fails", Op::PathAppendW, Welcome::kNotWritten},
        WelcomeFailure{"length_unknown", Op::lstrlenW, Welcome::kNotWritten},
        WelcomeFailure{"out_of_memory", Op::HeapAlloc, Welcome::kOutOfMemory}),
    [](const ::testing::TestParamInfo<WelcomeFailure>& info) {
      return std::string(info.param.name);
    });

TEST_F(MachineTest, WelcomeNeverStoresARelativePath) {
  // A Program Files folder so long that the browser's path cannot follow it
  // within MAX_PATH, and one that is empty.
  for (const std::u16string& folder :
       {std::u16string(u"C:\\") + std::u16string(240, u'p'),
        std::u16string()}) {
    machine().Reset();
    machine().programFiles = folder;
    EXPECT_EQ(RegisterWelcome(), Welcome::kNotWritten);
    EXPECT_EQ(Welcome(), nullptr);
  }
}

TEST_F(MachineTest, BrowserPathIsTheLongestThatFits) {
  // 259 units is the most a MAX_PATH buffer holds.
  const std::u16string relative = u"\\Internet Explorer\\iexplore.exe";
  machine().programFiles =
      u"C:\\" + std::u16string(259 - 3 - relative.size(), u'p');
  HeapText path;
  ASSERT_EQ(GetIExplorePath(path), BrowserPath::kFound);
  EXPECT_EQ(std::u16string(path.Units()).size(), 259u);
}

// Windows runs a RunOnce command line of at most 260 characters: the quoted
// path must fit, or nothing is written.
TEST_F(MachineTest, WelcomeFitsTheRunOnceCommandLine) {
  const std::u16string relative = u"\\Internet Explorer\\iexplore.exe";
  struct {
    std::size_t pathUnits;
    bool written;
  } const cases[] = {{257, true}, {258, true}, {259, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pathUnits);
    machine().Reset();
    machine().programFiles =
        u"C:\\" + std::u16string(c.pathUnits - 3 - relative.size(), u'p');
    EXPECT_EQ(RegisterWelcome(),
              c.written ? Welcome::kWritten : Welcome::kNotWritten);
    EXPECT_EQ(machine().LiveBlocks(), 0u);
    EXPECT_EQ(machine().OpenKeys(), 0u);
    const auto* value = Welcome();
    ASSERT_EQ(value != nullptr, c.written);
    if (value != nullptr) {
      const std::u16string command = StoredText(*value);
      EXPECT_EQ(command.size(), c.pathUnits + 2 + 1);  // quotes, terminator
      EXPECT_EQ(command.front(), u'"');
      EXPECT_EQ(command[c.pathUnits + 1], u'"');
    }
  }
}

}  // namespace
}  // namespace assistant
