#include "assistant/run_sequence.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "assistant/startup.h"
#include "tests/unit/machine.h"

namespace assistant {
namespace {

using platform::memory::Narrow;
using testing::Machine;
using testing::MachineTest;
using testing::Op;

constexpr unsigned kMinusOne = 0xFFFFFFFFu;

class RunTest : public MachineTest {
 protected:
  // Runs the whole process: start-up, wWinMain, exit.
  unsigned Run(const std::u16string& commandLine) {
    machine().commandLine = commandLine;
    StartUp();
    EXPECT_TRUE(machine().exitCode.has_value());
    return machine().exitCode.value_or(12345);
  }
  std::vector<Op> Sequence() const {
    std::vector<Op> ops;
    for (const auto& call : testing::Machine::Current().calls) {
      if (call.op == Op::RegOpenKeyExW || call.op == Op::CreateProcessW ||
          call.op == Op::WaitForSingleObject ||
          call.op == Op::RegCreateKeyExW || call.op == Op::RegSetValueExW ||
          call.op == Op::ExitProcess) {
        ops.push_back(call.op);
      }
    }
    return ops;
  }
};

TEST_F(RunTest, InstalledAtTheStartEndsWithMinusOne) {
  SetVersion(u"8.0.6001.18702");
  ProvideSetup(u"8.0.6001.18702");
  EXPECT_EQ(Run(u"a.exe /quiet"), kMinusOne);
  EXPECT_EQ(Sequence(), (std::vector<Op>{Op::RegOpenKeyExW, Op::ExitProcess}));
  EXPECT_EQ(machine().CountCalls(Op::HeapAlloc), 0);  // no argument text
  EXPECT_TRUE(machine().writes.empty());
}

TEST_F(RunTest, InstalledByTheSetupRegistersTheWelcome) {
  SetVersion(u"7.0.5730.13");
  ProvideSetup(u"8.0.6001.18702");
  EXPECT_EQ(Run(u"\"C:\\Setup\\a.exe\"  /quiet  /norestart "), 0u);
  EXPECT_EQ(Sequence(),
            (std::vector<Op>{Op::RegOpenKeyExW, Op::CreateProcessW,
                             Op::WaitForSingleObject, Op::RegOpenKeyExW,
                             Op::RegCreateKeyExW, Op::RegSetValueExW,
                             Op::ExitProcess}));
  ASSERT_EQ(machine().launches.size(), 1u);
  EXPECT_EQ(Narrow(machine().launches[0].commandLine),
            "C:\\Setup\\iesetup.exe /quiet  /norestart ");
  ASSERT_NE(Welcome(), nullptr);
  EXPECT_EQ(Welcome()->bytes.size(), 100u);
  EXPECT_EQ(machine().writes.size(), 1u);
}

TEST_F(RunTest, SetupThatInstallsNothingWritesNothing) {
  ProvideSetup(u"");
  EXPECT_EQ(Run(u"a.exe"), 0u);
  EXPECT_EQ(Sequence(),
            (std::vector<Op>{Op::RegOpenKeyExW, Op::CreateProcessW,
                             Op::WaitForSingleObject, Op::RegOpenKeyExW,
                             Op::ExitProcess}));
  EXPECT_TRUE(machine().writes.empty());
}

TEST_F(RunTest, SetupNotStartedProbesOnceAndWritesNothing) {
  EXPECT_EQ(Run(u"a.exe /quiet"), 0u);
  EXPECT_EQ(Sequence(), (std::vector<Op>{Op::RegOpenKeyExW,
                                         Op::CreateProcessW,
                                         Op::ExitProcess}));
  EXPECT_TRUE(machine().writes.empty());
}

TEST_F(RunTest, ArgumentTextIsReleasedBeforeTheSecondProbe) {
  ProvideSetup(u"8.0.6001.18702");
  EXPECT_EQ(Run(u"a.exe /quiet"), 0u);
  int opens = 0;
  for (const auto& call : machine().calls) {
    if (call.op == Op::RegOpenKeyExW && ++opens == 2) {
      EXPECT_EQ(call.liveBlocks, 0u);
      EXPECT_EQ(call.openHandles, 0u);
    }
    if (call.op == Op::CreateProcessW) {
      EXPECT_EQ(call.liveBlocks, 2u);  // argument text and command line
    }
  }
  EXPECT_EQ(opens, 2);
}

TEST_F(RunTest, SetupExitCodeAndOtherEntriesDoNotMatter) {
  // The stand-in may end with any code; the exit code stays 0 either way,
  // and a second run after the install ends with -1.
  ProvideSetup(u"8.0.6001.18702");
  EXPECT_EQ(Run(u"a.exe"), 0u);
  machine().calls.clear();
  machine().exitCode.reset();
  EXPECT_EQ(Run(u"a.exe"), kMinusOne);
  EXPECT_EQ(machine().launches.size(), 1u);
}

TEST_F(RunTest, NullCommandLineForwardsNothing) {
  ProvideSetup(u"");
  machine().Fail(Op::GetCommandLineW);
  EXPECT_EQ(Run(u"ignored"), 0u);
  ASSERT_EQ(machine().launches.size(), 1u);
  EXPECT_EQ(Narrow(machine().launches[0].commandLine),
            "C:\\Setup\\iesetup.exe");
}

// --- every operation failing in turn ------------------------------------
//
// Each row of the table below names a scenario, one call of one platform
// operation (its nth call in a run, or every call of it in turn) and the
// outcome of a run in which that call fails. The rows are the test cases;
// a further test runs each scenario once without failures and checks that
// the table gives exactly one outcome for every call the run makes.

enum class Scenario {
  kPresent,
  kInstalls,
  kInstallsNothing,
  kNoSetup,
  // As kInstalls, on a system without SetDefaultDllDirectories (XP, Vista
  // and 7 without the update).
  kInstallsOlderSystem,
};

constexpr Scenario kScenarios[] = {
    Scenario::kPresent, Scenario::kInstalls, Scenario::kInstallsNothing,
    Scenario::kNoSetup, Scenario::kInstallsOlderSystem};

std::string ScenarioName(Scenario scenario) {
  switch (scenario) {
    case Scenario::kPresent:
      return "present";
    case Scenario::kInstalls:
      return "installs";
    case Scenario::kInstallsNothing:
      return "installs_nothing";
    case Scenario::kNoSetup:
      return "no_setup";
    case Scenario::kInstallsOlderSystem:
      return "installs_older_system";
  }
  return "?";
}

constexpr const char16_t* kIE8 = u"8.0.6001.18702";
constexpr const char16_t* kIE7 = u"7.0.5730.13";
constexpr const char16_t* kSweepCommandLine = u"C:\\Setup\\a.exe /quiet";

// IE8 present (with the setup beside the assistant, which changes nothing);
// IE7 present and the setup installs IE8; IE7 and a setup that installs
// nothing; IE7 and no setup program that can be started.
void Prepare(Scenario scenario) {
  Machine& m = Machine::Current();
  m.SetString(platform::kLocalMachine, testing::kBrowserKey, u"Version",
              scenario == Scenario::kPresent ? kIE8 : kIE7);
  m.hasSearchPathUpdate = scenario != Scenario::kInstallsOlderSystem;
  if (scenario == Scenario::kNoSetup) {
    return;
  }
  m.programs.insert(platform::memory::Fold(testing::kSetupPath));
  if (scenario == Scenario::kInstalls ||
      scenario == Scenario::kInstallsOlderSystem) {
    m.onRun = [](Machine& machine, const platform::memory::Launch&) {
      machine.SetString(platform::kLocalMachine, testing::kBrowserKey,
                        u"Version", kIE8);
    };
  }
}

// ExitProcess does not return on Windows, and GetStartupInfoW has no way to
// fail: neither has a failure to inject.
bool CanFail(Op op) {
  return op != Op::ExitProcess && op != Op::GetStartupInfoW;
}

// The operations through which the libraries are found and loaded.
bool IsLoaderOp(Op op) {
  return op == Op::GetModuleHandleW || op == Op::GetProcAddress ||
         op == Op::LoadLibraryExW || op == Op::GetSystemDirectoryW ||
         op == Op::SetProcessDEPPolicy ||
         op == Op::SetDefaultDllDirectories || op == Op::SetDllDirectoryW;
}

struct Outcome {
  unsigned exitCode;
  const char* started;  // the setup's command line; nullptr: nothing started
  bool welcome;         // IE_Welcome holds the quoted browser path
};

constexpr const char* kArgs = "C:\\Setup\\iesetup.exe /quiet";
constexpr const char* kNoArgs = "C:\\Setup\\iesetup.exe";

constexpr Outcome kMinus1{kMinusOne, nullptr, false};
constexpr Outcome kNotStarted{0, nullptr, false};
constexpr Outcome kRanNoWelcome{0, kArgs, false};
constexpr Outcome kWelcome{0, kArgs, true};
constexpr Outcome kNoArgsRanNoWelcome{0, kNoArgs, false};
constexpr Outcome kNoArgsWelcome{0, kNoArgs, true};
constexpr Outcome kOutOfMemoryBeforeStart{8, nullptr, false};
constexpr Outcome kOutOfMemoryAfterRun{8, kArgs, false};

// A row's nth: every call of the operation, each failing in a run of its
// own, with the same outcome.
constexpr int kEveryCall = 0;

struct Expectation {
  Scenario scenario;
  Op op;
  int nth;  // which call of `op` fails, counting from 1; or kEveryCall
  Outcome outcome;
};

std::string CaseName(const Expectation& e) {
  return ScenarioName(e.scenario) + "_" + platform::memory::OpName(e.op) +
         "_" + (e.nth == kEveryCall ? std::string("every") : std::to_string(e.nth));
}

// How GoogleTest prints a case: by its name, never as raw bytes.
void PrintTo(const Expectation& e, std::ostream* out) { *out << CaseName(e); }

// Calls in the order a run makes them. The start-up first looks up
// SetProcessDEPPolicy and SetDefaultDllDirectories in kernel32 and calls
// them (on the older system: SetDllDirectoryW in place of the second), then
// reads the command line. Each probe opens, queries and closes the browser
// key; the argument text, the setup's command line and the browser path are
// each one allocation (each asking for the heap handle) and one release; the
// launcher forms the setup path, creates, waits and closes the thread then
// the process handle; the welcome creates RunOnce, finds Program Files,
// joins the browser's path, measures and stores it. Each of the four shell
// calls (PathRemoveFileSpecW, PathAppendW, SHGetFolderPathW, PathAppendW)
// first asks kernel32 for SetDefaultDllDirectories, loads its library (on
// the older system by full path, after GetSystemDirectoryW) and looks up its
// function: GetProcAddress calls 3 to 10 alternate between the two lookups
// (on the older system 4 to 11). kernel32's handle is asked for before every
// lookup in it.
//
// The older system's rows name the loader's calls only; its other calls are
// those of kInstalls, in the same order, with the same outcomes, and
// Expectations() adds them as cases of the older system.
std::vector<Expectation> TableRows() {
  using S = Scenario;
  return {
      // IE8 present: only the first probe runs, unless it cannot read.
      {S::kPresent, Op::GetModuleHandleW, kEveryCall, kMinus1},
      {S::kPresent, Op::GetProcAddress, 1, kMinus1},  // SetProcessDEPPolicy
      {S::kPresent, Op::SetProcessDEPPolicy, 1, kMinus1},
      {S::kPresent, Op::GetProcAddress, 2, kMinus1},  // SetDefaultDllDirectories
      {S::kPresent, Op::SetDefaultDllDirectories, 1, kMinus1},
      {S::kPresent, Op::GetCommandLineW, 1, kMinus1},
      {S::kPresent, Op::RegOpenKeyExW, 1, kWelcome},  // read as absent
      {S::kPresent, Op::RegQueryValueExW, 1, kWelcome},
      {S::kPresent, Op::RegCloseKey, 1, kMinus1},

      // IE7 present; the setup installs IE8.
      // Without kernel32's handle nothing is restricted, and the libraries
      // are loaded by full path.
      {S::kInstalls, Op::GetModuleHandleW, kEveryCall, kWelcome},
      {S::kInstalls, Op::GetProcAddress, 1, kWelcome},
      {S::kInstalls, Op::SetProcessDEPPolicy, 1, kWelcome},
      {S::kInstalls, Op::GetProcAddress, 2, kWelcome},  // SetDllDirectoryW then
      {S::kInstalls, Op::SetDefaultDllDirectories, 1, kWelcome},
      {S::kInstalls, Op::GetCommandLineW, 1, kNoArgsWelcome},
      {S::kInstalls, Op::RegOpenKeyExW, 1, kWelcome},  // IE7 is absent anyway
      {S::kInstalls, Op::RegQueryValueExW, 1, kWelcome},
      {S::kInstalls, Op::RegCloseKey, 1, kWelcome},
      {S::kInstalls, Op::GetProcessHeap, 1, kOutOfMemoryBeforeStart},
      {S::kInstalls, Op::HeapAlloc, 1, kOutOfMemoryBeforeStart},  // arguments
      {S::kInstalls, Op::GetModuleFileNameW, 1, kNotStarted},
      {S::kInstalls, Op::GetProcAddress, 3, kWelcome},  // loads by full path
      {S::kInstalls, Op::LoadLibraryExW, 1, kNotStarted},  // no SHLWAPI
      {S::kInstalls, Op::GetProcAddress, 4, kNotStarted},  // PathRemoveFileSpecW
      {S::kInstalls, Op::PathRemoveFileSpecW, 1, kNotStarted},
      {S::kInstalls, Op::GetProcAddress, 5, kWelcome},
      {S::kInstalls, Op::LoadLibraryExW, 2, kNotStarted},
      {S::kInstalls, Op::GetProcAddress, 6, kNotStarted},  // PathAppendW
      {S::kInstalls, Op::PathAppendW, 1, kNotStarted},
      {S::kInstalls, Op::GetProcessHeap, 2, kOutOfMemoryBeforeStart},
      {S::kInstalls, Op::HeapAlloc, 2, kOutOfMemoryBeforeStart},  // command line
      {S::kInstalls, Op::CreateProcessW, 1, kNotStarted},
      // A failed wait never sees the setup end (here: nor install).
      {S::kInstalls, Op::WaitForSingleObject, 1, kRanNoWelcome},
      {S::kInstalls, Op::HeapFree, 1, kWelcome},
      {S::kInstalls, Op::CloseHandle, 1, kWelcome},
      {S::kInstalls, Op::CloseHandle, 2, kWelcome},
      {S::kInstalls, Op::HeapFree, 2, kWelcome},
      {S::kInstalls, Op::RegOpenKeyExW, 2, kRanNoWelcome},
      {S::kInstalls, Op::RegQueryValueExW, 2, kRanNoWelcome},
      {S::kInstalls, Op::RegCloseKey, 2, kWelcome},
      {S::kInstalls, Op::RegCreateKeyExW, 1, kRanNoWelcome},
      {S::kInstalls, Op::GetProcAddress, 7, kWelcome},
      {S::kInstalls, Op::LoadLibraryExW, 3, kRanNoWelcome},  // no SHELL32
      {S::kInstalls, Op::GetProcAddress, 8, kRanNoWelcome},  // SHGetFolderPathW
      {S::kInstalls, Op::SHGetFolderPathW, 1, kRanNoWelcome},
      {S::kInstalls, Op::GetProcAddress, 9, kWelcome},
      {S::kInstalls, Op::LoadLibraryExW, 4, kRanNoWelcome},
      {S::kInstalls, Op::GetProcAddress, 10, kRanNoWelcome},  // PathAppendW
      {S::kInstalls, Op::PathAppendW, 2, kRanNoWelcome},
      {S::kInstalls, Op::GetProcessHeap, 3, kOutOfMemoryAfterRun},
      {S::kInstalls, Op::HeapAlloc, 3, kOutOfMemoryAfterRun},  // browser path
      {S::kInstalls, Op::HeapFree, 3, kWelcome},
      {S::kInstalls, Op::lstrlenW, 1, kRanNoWelcome},
      {S::kInstalls, Op::RegSetValueExW, 1, kRanNoWelcome},
      {S::kInstalls, Op::RegCloseKey, 3, kWelcome},  // already written

      // The same on the older system: the current directory is taken out of
      // the search, and each library is loaded by its full path.
      {S::kInstallsOlderSystem, Op::GetModuleHandleW, kEveryCall, kWelcome},
      {S::kInstallsOlderSystem, Op::GetProcAddress, 1, kWelcome},
      {S::kInstallsOlderSystem, Op::SetProcessDEPPolicy, 1, kWelcome},
      {S::kInstallsOlderSystem, Op::GetProcAddress, 2, kWelcome},
      {S::kInstallsOlderSystem, Op::GetProcAddress, 3, kWelcome},
      {S::kInstallsOlderSystem, Op::SetDllDirectoryW, 1, kWelcome},
      {S::kInstallsOlderSystem, Op::GetProcAddress, 4, kWelcome},
      {S::kInstallsOlderSystem, Op::GetSystemDirectoryW, 1, kNotStarted},
      {S::kInstallsOlderSystem, Op::LoadLibraryExW, 1, kNotStarted},
      {S::kInstallsOlderSystem, Op::GetProcAddress, 5, kNotStarted},
      {S::kInstallsOlderSystem, Op::GetProcAddress, 6, kWelcome},
      {S::kInstallsOlderSystem, Op::GetSystemDirectoryW, 2, kNotStarted},
      {S::kInstallsOlderSystem, Op::LoadLibraryExW, 2, kNotStarted},
      {S::kInstallsOlderSystem, Op::GetProcAddress, 7, kNotStarted},
      {S::kInstallsOlderSystem, Op::GetProcAddress, 8, kWelcome},
      {S::kInstallsOlderSystem, Op::GetSystemDirectoryW, 3, kRanNoWelcome},
      {S::kInstallsOlderSystem, Op::LoadLibraryExW, 3, kRanNoWelcome},
      {S::kInstallsOlderSystem, Op::GetProcAddress, 9, kRanNoWelcome},
      {S::kInstallsOlderSystem, Op::GetProcAddress, 10, kWelcome},
      {S::kInstallsOlderSystem, Op::GetSystemDirectoryW, 4, kRanNoWelcome},
      {S::kInstallsOlderSystem, Op::LoadLibraryExW, 4, kRanNoWelcome},
      {S::kInstallsOlderSystem, Op::GetProcAddress, 11, kRanNoWelcome},

      // IE7 present; the setup runs and installs nothing.
      {S::kInstallsNothing, Op::GetModuleHandleW, kEveryCall, kRanNoWelcome},
      {S::kInstallsNothing, Op::GetProcAddress, 1, kRanNoWelcome},
      {S::kInstallsNothing, Op::SetProcessDEPPolicy, 1, kRanNoWelcome},
      {S::kInstallsNothing, Op::GetProcAddress, 2, kRanNoWelcome},
      {S::kInstallsNothing, Op::SetDefaultDllDirectories, 1, kRanNoWelcome},
      {S::kInstallsNothing, Op::GetCommandLineW, 1, kNoArgsRanNoWelcome},
      {S::kInstallsNothing, Op::RegOpenKeyExW, 1, kRanNoWelcome},
      {S::kInstallsNothing, Op::RegQueryValueExW, 1, kRanNoWelcome},
      {S::kInstallsNothing, Op::RegCloseKey, 1, kRanNoWelcome},
      {S::kInstallsNothing, Op::GetProcessHeap, 1, kOutOfMemoryBeforeStart},
      {S::kInstallsNothing, Op::HeapAlloc, 1, kOutOfMemoryBeforeStart},
      {S::kInstallsNothing, Op::GetModuleFileNameW, 1, kNotStarted},
      {S::kInstallsNothing, Op::GetProcAddress, 3, kRanNoWelcome},
      {S::kInstallsNothing, Op::LoadLibraryExW, 1, kNotStarted},
      {S::kInstallsNothing, Op::GetProcAddress, 4, kNotStarted},
      {S::kInstallsNothing, Op::PathRemoveFileSpecW, 1, kNotStarted},
      {S::kInstallsNothing, Op::GetProcAddress, 5, kRanNoWelcome},
      {S::kInstallsNothing, Op::LoadLibraryExW, 2, kNotStarted},
      {S::kInstallsNothing, Op::GetProcAddress, 6, kNotStarted},
      {S::kInstallsNothing, Op::PathAppendW, 1, kNotStarted},
      {S::kInstallsNothing, Op::GetProcessHeap, 2, kOutOfMemoryBeforeStart},
      {S::kInstallsNothing, Op::HeapAlloc, 2, kOutOfMemoryBeforeStart},
      {S::kInstallsNothing, Op::CreateProcessW, 1, kNotStarted},
      {S::kInstallsNothing, Op::WaitForSingleObject, 1, kRanNoWelcome},
      {S::kInstallsNothing, Op::HeapFree, 1, kRanNoWelcome},
      {S::kInstallsNothing, Op::CloseHandle, 1, kRanNoWelcome},
      {S::kInstallsNothing, Op::CloseHandle, 2, kRanNoWelcome},
      {S::kInstallsNothing, Op::HeapFree, 2, kRanNoWelcome},
      {S::kInstallsNothing, Op::RegOpenKeyExW, 2, kRanNoWelcome},
      {S::kInstallsNothing, Op::RegQueryValueExW, 2, kRanNoWelcome},
      {S::kInstallsNothing, Op::RegCloseKey, 2, kRanNoWelcome},

      // IE7 present; no setup program to start.
      {S::kNoSetup, Op::GetModuleHandleW, kEveryCall, kNotStarted},
      {S::kNoSetup, Op::GetProcAddress, kEveryCall, kNotStarted},
      {S::kNoSetup, Op::SetProcessDEPPolicy, 1, kNotStarted},
      {S::kNoSetup, Op::SetDefaultDllDirectories, 1, kNotStarted},
      {S::kNoSetup, Op::GetCommandLineW, 1, kNotStarted},
      {S::kNoSetup, Op::RegOpenKeyExW, 1, kNotStarted},
      {S::kNoSetup, Op::RegQueryValueExW, 1, kNotStarted},
      {S::kNoSetup, Op::RegCloseKey, 1, kNotStarted},
      {S::kNoSetup, Op::GetProcessHeap, 1, kOutOfMemoryBeforeStart},
      {S::kNoSetup, Op::HeapAlloc, 1, kOutOfMemoryBeforeStart},
      {S::kNoSetup, Op::GetModuleFileNameW, 1, kNotStarted},
      {S::kNoSetup, Op::LoadLibraryExW, kEveryCall, kNotStarted},
      {S::kNoSetup, Op::PathRemoveFileSpecW, 1, kNotStarted},
      {S::kNoSetup, Op::PathAppendW, 1, kNotStarted},
      {S::kNoSetup, Op::GetProcessHeap, 2, kOutOfMemoryBeforeStart},
      {S::kNoSetup, Op::HeapAlloc, 2, kOutOfMemoryBeforeStart},
      {S::kNoSetup, Op::CreateProcessW, 1, kNotStarted},
      {S::kNoSetup, Op::HeapFree, 1, kNotStarted},
      {S::kNoSetup, Op::HeapFree, 2, kNotStarted},
  };
}

// The table's rows, and the older system's copies of the rows of kInstalls
// for its calls other than the loader's: every one a case of its own.
const std::vector<Expectation>& Expectations() {
  static const std::vector<Expectation> rows = [] {
    std::vector<Expectation> all = TableRows();
    for (const Expectation& e : TableRows()) {
      if (e.scenario == Scenario::kInstalls && !IsLoaderOp(e.op)) {
        all.push_back({Scenario::kInstallsOlderSystem, e.op, e.nth, e.outcome});
      }
    }
    return all;
  }();
  return rows;
}

// The rows that give the outcome when the nth call of `op` fails in
// `scenario`: those naming that call, or every call of `op`.
std::vector<const Expectation*> RowsFor(Scenario scenario, Op op, int nth) {
  std::vector<const Expectation*> rows;
  for (const Expectation& e : Expectations()) {
    if (e.scenario == scenario && e.op == op &&
        (e.nth == nth || e.nth == kEveryCall)) {
      rows.push_back(&e);
    }
  }
  return rows;
}

unsigned RunUnchecked(const std::u16string& commandLine) {
  Machine& m = Machine::Current();
  m.commandLine = commandLine;
  StartUp();
  return m.exitCode.value_or(12345);
}

// A library load that cannot pick up a planted copy: by bare name with the
// system-folder search, or by full path in the system folder.
bool LoadsFromTheSystemFolder(const platform::memory::Load& load,
                              const std::u16string& systemDirectory) {
  const std::u16string name = platform::memory::Fold(load.fileName);
  if (name.find(u'\\') == std::u16string::npos) {
    return load.flags == platform::kLoadLibrarySearchSystem32;
  }
  const std::u16string folder = platform::memory::Fold(systemDirectory) + u"\\";
  return name.compare(0, folder.size(), folder) == 0 &&
         name.find(u'\\', folder.size()) == std::u16string::npos &&
         load.flags == platform::kLoadWithAlteredSearchPath;
}

class SweepTest : public RunTest,
                  public ::testing::WithParamInterface<Expectation> {
 protected:
  // One run of the scenario with the nth call of the row's operation
  // failing, checked against the row's outcome.
  void RunFailing(int nth) {
    const Expectation& e = GetParam();
    SCOPED_TRACE("call " + std::to_string(nth) + " of " +
                 platform::memory::OpName(e.op));
    machine().Reset();
    Prepare(e.scenario);
    machine().Fail(e.op, nth);
    EXPECT_EQ(Run(kSweepCommandLine), e.outcome.exitCode);
    // The failure was made: the run got as far as that call.
    EXPECT_GE(machine().CountCalls(e.op), nth)
        << "the table expects an outcome for a call that is never made";

    // What was started.
    if (e.outcome.started == nullptr) {
      EXPECT_TRUE(machine().launches.empty());
    } else {
      EXPECT_EQ(machine().launches.size(), 1u);
      for (const auto& launch : machine().launches) {
        EXPECT_EQ(Narrow(launch.applicationName), "C:\\Setup\\iesetup.exe");
        EXPECT_EQ(Narrow(launch.commandLine), e.outcome.started);
      }
    }

    // What was written: the welcome entry and nothing else.
    const std::vector<std::u16string> welcomeWrite = {
        platform::memory::Fold(u"hkcu\\" + std::u16string(testing::kRunOnce)) +
        u"\\IE_Welcome"};
    EXPECT_EQ(machine().writes, e.outcome.welcome
                                    ? welcomeWrite
                                    : std::vector<std::u16string>{});
    const platform::memory::Value* welcome = Welcome();
    EXPECT_EQ(welcome != nullptr, e.outcome.welcome);
    if (welcome != nullptr) {
      EXPECT_EQ(welcome->type, platform::kRegSz);
      EXPECT_EQ(welcome->bytes,
                platform::memory::Bytes(
                    u"\"C:\\Program Files\\Internet Explorer\\iexplore.exe\"",
                    true));
    }

    // Whatever failed, no load was asked for anywhere but the system
    // folder, not even one that failed here and that a planted copy would
    // have answered.
    for (const auto& call : machine().calls) {
      if (call.op == Op::LoadLibraryExW) {
        EXPECT_TRUE(LoadsFromTheSystemFolder({call.text, call.access},
                                             machine().systemDirectory))
            << Narrow(call.text) << " with flags " << call.access;
      }
    }

    // Nothing left open or allocated.
    EXPECT_EQ(machine().OpenKeys(), 0u);
    EXPECT_EQ(machine().OpenHandles(), 0u);
    EXPECT_EQ(machine().LiveBlocks(), 0u);
  }
};

TEST_P(SweepTest, OutcomeAndNothingLeftOpen) {
  const Expectation& e = GetParam();
  if (e.nth != kEveryCall) {
    RunFailing(e.nth);
    return;
  }
  machine().Reset();
  Prepare(e.scenario);
  RunUnchecked(kSweepCommandLine);
  const int calls = machine().CountCalls(e.op);
  ASSERT_GT(calls, 0) << "the table expects an outcome for an operation that "
                         "is never called";
  for (int nth = 1; nth <= calls; ++nth) {
    RunFailing(nth);
  }
}

INSTANTIATE_TEST_SUITE_P(EveryFailure, SweepTest,
                         ::testing::ValuesIn(Expectations()),
                         [](const ::testing::TestParamInfo<Expectation>& info) {
                           return CaseName(info.param);
                         });

TEST_F(RunTest, SweepTableGivesEveryCallOneOutcome) {
  const Outcome clean[] = {kMinus1, kWelcome, kRanNoWelcome, kNotStarted,
                           kWelcome};
  for (Scenario scenario : kScenarios) {
    SCOPED_TRACE(ScenarioName(scenario));
    machine().Reset();
    Prepare(scenario);
    const Outcome& expected = clean[static_cast<int>(scenario)];
    EXPECT_EQ(RunUnchecked(kSweepCommandLine), expected.exitCode);
    EXPECT_EQ(machine().launches.size(), expected.started != nullptr ? 1u : 0u);
    EXPECT_EQ(Welcome() != nullptr, expected.welcome);
    for (int index = 0; index < platform::memory::kOpCount; ++index) {
      const Op op = static_cast<Op>(index);
      const int calls = machine().CountCalls(op);
      if (!CanFail(op)) {
        EXPECT_TRUE(RowsFor(scenario, op, 1).empty())
            << platform::memory::OpName(op) << " cannot fail";
        continue;
      }
      for (int nth = 1; nth <= calls; ++nth) {
        EXPECT_EQ(RowsFor(scenario, op, nth).size(), 1u)
            << "call " << nth << " of " << platform::memory::OpName(op)
            << " needs exactly one row";
      }
    }
  }
}

}  // namespace
}  // namespace assistant
