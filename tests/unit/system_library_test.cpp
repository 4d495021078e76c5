#include "platform/system_library.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "assistant/startup.h"
#include "tests/unit/machine.h"

namespace assistant {
namespace {

using platform::memory::Load;
using platform::memory::Narrow;
using testing::MachineTest;
using testing::Op;

constexpr platform::Dword kSearchSystem32 = platform::kLoadLibrarySearchSystem32;
constexpr platform::Dword kAltered = platform::kLoadWithAlteredSearchPath;

// The kernel32 of each system the assistant meets, and what a whole run
// loads there and sets for the process.
struct SystemCase {
  const char* name;
  bool hasDepPolicy;
  bool hasDllDirectory;
  bool hasSearchPathUpdate;
  std::vector<std::string> loads;  // "file name|flags", in order
  std::optional<platform::Dword> depPolicy;
  std::optional<platform::Dword> defaultDllDirectories;
  std::optional<std::u16string> dllDirectory;
};

void PrintTo(const SystemCase& c, std::ostream* out) { *out << c.name; }

std::string Describe(const Load& load) {
  return Narrow(load.fileName) + "|" + std::to_string(load.flags);
}

std::string ByName(const char* file) {
  return std::string(file) + "|" + std::to_string(kSearchSystem32);
}
std::string ByPath(const char* file) {
  return std::string("C:\\WINDOWS\\system32\\") + file + "|" +
         std::to_string(kAltered);
}

class SystemTest : public MachineTest,
                   public ::testing::WithParamInterface<SystemCase> {
 protected:
  void SetUpSystem() {
    const SystemCase& c = GetParam();
    machine().hasDepPolicy = c.hasDepPolicy;
    machine().hasDllDirectory = c.hasDllDirectory;
    machine().hasSearchPathUpdate = c.hasSearchPathUpdate;
  }
  // IE7 present; the setup installs IE8; the welcome is written.
  void RunFull() {
    SetVersion(u"7.0.5730.13");
    ProvideSetup(u"8.0.6001.18702");
    machine().commandLine = u"C:\\Setup\\a.exe /quiet";
    StartUp();
  }
};

TEST_P(SystemTest, FullRunLoadsTheShellLibrariesFromTheSystemFolder) {
  const SystemCase& c = GetParam();
  SetUpSystem();
  RunFull();
  EXPECT_EQ(machine().exitCode, 0u);
  ASSERT_NE(Welcome(), nullptr);

  std::vector<std::string> loads;
  for (const Load& load : machine().loads) {
    loads.push_back(Describe(load));
  }
  EXPECT_EQ(loads, c.loads);
  EXPECT_EQ(machine().depPolicy, c.depPolicy);
  EXPECT_EQ(machine().defaultDllDirectories, c.defaultDllDirectories);
  EXPECT_EQ(machine().dllDirectory, c.dllDirectory);
}

TEST_P(SystemTest, SettingsComeFirstAndBeforeAnyLoad) {
  const SystemCase& c = GetParam();
  SetUpSystem();
  RunFull();
  // Only kernel32 lookups and the settings come before the last setting,
  // and every library is loaded after it.
  const bool anySetting =
      c.depPolicy || c.defaultDllDirectories || c.dllDirectory;
  std::size_t lastSetting = 0;
  for (std::size_t i = 0; i < machine().calls.size(); ++i) {
    const Op op = machine().calls[i].op;
    if (op == Op::SetProcessDEPPolicy || op == Op::SetDefaultDllDirectories ||
        op == Op::SetDllDirectoryW) {
      lastSetting = i + 1;
    }
  }
  ASSERT_EQ(lastSetting != 0, anySetting);
  for (std::size_t i = 0; i < lastSetting; ++i) {
    const Op op = machine().calls[i].op;
    EXPECT_TRUE(op == Op::GetModuleHandleW || op == Op::GetProcAddress ||
                op == Op::SetProcessDEPPolicy ||
                op == Op::SetDefaultDllDirectories ||
                op == Op::SetDllDirectoryW)
        << platform::memory::OpName(op) << " before the settings";
  }
  ASSERT_FALSE(machine().loads.empty());
}

TEST_P(SystemTest, InstalledAtTheStartLoadsNothing) {
  SetUpSystem();
  SetVersion(u"8.0.6001.18702");
  ProvideSetup(u"8.0.6001.18702");
  machine().commandLine = u"C:\\Setup\\a.exe /quiet";
  StartUp();
  EXPECT_EQ(machine().exitCode, 0xFFFFFFFFu);
  EXPECT_EQ(machine().CountCalls(Op::LoadLibraryExW), 0);
  EXPECT_TRUE(machine().loads.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Systems, SystemTest,
    ::testing::Values(
        // Windows 8 and later, and Vista or 7 with the search-path update.
        SystemCase{"with_search_path_update", true, true, true,
                   {ByName("shlwapi.dll"), ByName("shlwapi.dll"),
                    ByName("shell32.dll"), ByName("shlwapi.dll")},
                   platform::kProcessDepEnable, kSearchSystem32, std::nullopt},
        // Vista SP1 or 7 without the update, XP SP3.
        SystemCase{"without_search_path_update", true, true, false,
                   {ByPath("shlwapi.dll"), ByPath("shlwapi.dll"),
                    ByPath("shell32.dll"), ByPath("shlwapi.dll")},
                   platform::kProcessDepEnable, std::nullopt, u""},
        // XP SP1 and SP2: no DEP policy to set.
        SystemCase{"without_dep_policy", false, true, false,
                   {ByPath("shlwapi.dll"), ByPath("shlwapi.dll"),
                    ByPath("shell32.dll"), ByPath("shlwapi.dll")},
                   std::nullopt, std::nullopt, u""},
        // XP without a service pack: nothing to narrow but the full paths.
        SystemCase{"without_any", false, false, false,
                   {ByPath("shlwapi.dll"), ByPath("shlwapi.dll"),
                    ByPath("shell32.dll"), ByPath("shlwapi.dll")},
                   std::nullopt, std::nullopt, std::nullopt}),
    [](const ::testing::TestParamInfo<SystemCase>& info) {
      return std::string(info.param.name);
    });

// Where SetDefaultDllDirectories is there but refuses, the current
// directory still goes out of the search.
TEST_F(MachineTest, RefusedSearchLimitStillTakesOutTheCurrentDirectory) {
  machine().Fail(Op::SetDefaultDllDirectories);
  platform::HardenProcess();
  EXPECT_FALSE(machine().defaultDllDirectories.has_value());
  EXPECT_EQ(machine().dllDirectory, std::optional<std::u16string>(u""));
  EXPECT_EQ(machine().depPolicy,
            std::optional<platform::Dword>(platform::kProcessDepEnable));
}

// A library or an export that the system does not have: the step that
// needs it fails, and the run ends as it would have there anyway.
struct MissingCase {
  const char* name;
  const char16_t* library;     // nullptr: the library is there
  const char* procedure;       // nullptr: every export is there
  bool started;
  bool welcome;
};

void PrintTo(const MissingCase& c, std::ostream* out) { *out << c.name; }

class MissingTest : public MachineTest,
                    public ::testing::WithParamInterface<
                        std::tuple<MissingCase, bool>> {};

TEST_P(MissingTest, GivesTheOutcomeOfTheStepThatNeedsIt) {
  const MissingCase& c = std::get<0>(GetParam());
  machine().hasSearchPathUpdate = std::get<1>(GetParam());
  if (c.library != nullptr) {
    machine().missingLibraries.insert(c.library);
  }
  if (c.procedure != nullptr) {
    machine().missingProcedures.insert(c.procedure);
  }
  SetVersion(u"7.0.5730.13");
  ProvideSetup(u"8.0.6001.18702");
  machine().commandLine = u"C:\\Setup\\a.exe /quiet";
  StartUp();
  EXPECT_EQ(machine().exitCode, 0u);
  EXPECT_EQ(machine().launches.size(), c.started ? 1u : 0u);
  EXPECT_EQ(Welcome() != nullptr, c.welcome);
  EXPECT_EQ(machine().LiveBlocks(), 0u);
  EXPECT_EQ(machine().OpenKeys(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Missing, MissingTest,
    ::testing::Combine(
        ::testing::Values(
            MissingCase{"nothing", nullptr, nullptr, true, true},
            MissingCase{"shlwapi", u"shlwapi.dll", nullptr, false, false},
            MissingCase{"shell32", u"shell32.dll", nullptr, true, false},
            MissingCase{"PathRemoveFileSpecW", nullptr, "PathRemoveFileSpecW",
                        false, false},
            MissingCase{"PathAppendW", nullptr, "PathAppendW", false, false},
            MissingCase{"SHGetFolderPathW", nullptr, "SHGetFolderPathW", true,
                        false}),
        ::testing::Bool()),
    [](const ::testing::TestParamInfo<std::tuple<MissingCase, bool>>& info) {
      return std::string(std::get<0>(info.param).name) +
             (std::get<1>(info.param) ? "_with_update" : "_without_update");
    });

// The full path of a library in the system folder, joined without the path
// helpers, which live in SHLWAPI.
TEST_F(MachineTest, FullPathIsJoinedWithOneBackslashOrNotAtAll) {
  const std::u16string longest = u"C:\\" + std::u16string(244, u's');
  struct {
    std::u16string systemDirectory;
    std::u16string loaded;  // empty: nothing may be loaded
  } const cases[] = {
      {u"C:\\WINDOWS\\system32", u"C:\\WINDOWS\\system32\\shell32.dll"},
      {u"C:\\", u"C:\\shell32.dll"},
      // "\shell32.dll" (12 units) fits behind 247 units, not behind 248.
      {longest, longest + u"\\shell32.dll"},
      {longest + u"s", u""},
      // A longer system folder is answered with the size it needs.
      {u"C:\\" + std::u16string(300, u's'), u""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.systemDirectory.size());
    machine().Reset();
    machine().hasSearchPathUpdate = false;
    machine().systemDirectory = c.systemDirectory;
    const platform::Module module =
        platform::LoadSystemLibrary(platform::SystemLibrary::kShell32);
    EXPECT_EQ(module != 0, !c.loaded.empty());
    if (c.loaded.empty()) {
      EXPECT_TRUE(machine().loads.empty());
      continue;
    }
    ASSERT_EQ(machine().loads.size(), 1u);
    EXPECT_EQ(Narrow(machine().loads[0].fileName), Narrow(c.loaded));
    EXPECT_EQ(machine().loads[0].flags, kAltered);
  }
}

}  // namespace
}  // namespace assistant
