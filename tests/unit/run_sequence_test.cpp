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
// For each scenario a run without failures counts the calls it makes of each
// platform operation; then each of those calls (each operation, each index
// that occurs, the allocations included) fails in a run of its own. The
// outcome of every such case is written out in the table below, keyed by
// (scenario, operation, call). A generated case without exactly one entry
// fails, and so does an entry for a call that the run without failures does
// not make.

enum class Scenario { kPresent, kInstalls, kInstallsNothing, kNoSetup };

constexpr Scenario kScenarios[] = {Scenario::kPresent, Scenario::kInstalls,
                                   Scenario::kInstallsNothing,
                                   Scenario::kNoSetup};

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
  if (scenario == Scenario::kNoSetup) {
    return;
  }
  m.programs.insert(platform::memory::Fold(testing::kSetupPath));
  if (scenario == Scenario::kInstalls) {
    m.onRun = [](Machine& machine, const platform::memory::Launch&) {
      machine.SetString(platform::kLocalMachine, testing::kBrowserKey,
                        u"Version", kIE8);
    };
  }
}

// ExitProcess has no failure to inject: on Windows it does not return, and
// the in-memory one only records the exit code.
bool CanFail(Op op) { return op != Op::ExitProcess; }

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

struct Expectation {
  Scenario scenario;
  Op op;
  int nth;  // which call of `op` fails, counting from 1
  Outcome outcome;
};

// Calls in the order a run makes them. The start-up reads the command line
// and the start-up information; each probe opens, queries and closes the
// browser key; the argument text, the setup's command line and the browser
// path are each one allocation (each asking for the heap handle) and one
// release; the launcher forms the setup path, creates, waits and closes
// the thread then the process handle; the welcome creates RunOnce, finds
// Program Files, joins the browser's path, measures and stores it.
const std::vector<Expectation>& Expectations() {
  using S = Scenario;
  static const std::vector<Expectation> table = {
      // IE8 present: only the first probe runs, unless it cannot read.
      {S::kPresent, Op::GetCommandLineW, 1, kMinus1},
      {S::kPresent, Op::GetStartupInfoW, 1, kMinus1},
      {S::kPresent, Op::RegOpenKeyExW, 1, kWelcome},  // read as absent
      {S::kPresent, Op::RegQueryValueExW, 1, kWelcome},
      {S::kPresent, Op::RegCloseKey, 1, kMinus1},

      // IE7 present; the setup installs IE8.
      {S::kInstalls, Op::GetCommandLineW, 1, kNoArgsWelcome},
      {S::kInstalls, Op::GetStartupInfoW, 1, kWelcome},
      {S::kInstalls, Op::RegOpenKeyExW, 1, kWelcome},  // IE7 is absent anyway
      {S::kInstalls, Op::RegQueryValueExW, 1, kWelcome},
      {S::kInstalls, Op::RegCloseKey, 1, kWelcome},
      {S::kInstalls, Op::GetProcessHeap, 1, kOutOfMemoryBeforeStart},
      {S::kInstalls, Op::HeapAlloc, 1, kOutOfMemoryBeforeStart},  // arguments
      {S::kInstalls, Op::GetModuleFileNameW, 1, kNotStarted},
      {S::kInstalls, Op::PathRemoveFileSpecW, 1, kNotStarted},
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
      {S::kInstalls, Op::SHGetFolderPathW, 1, kRanNoWelcome},
      {S::kInstalls, Op::PathAppendW, 2, kRanNoWelcome},
      {S::kInstalls, Op::GetProcessHeap, 3, kOutOfMemoryAfterRun},
      {S::kInstalls, Op::HeapAlloc, 3, kOutOfMemoryAfterRun},  // browser path
      {S::kInstalls, Op::HeapFree, 3, kWelcome},
      {S::kInstalls, Op::lstrlenW, 1, kRanNoWelcome},
      {S::kInstalls, Op::RegSetValueExW, 1, kRanNoWelcome},
      {S::kInstalls, Op::RegCloseKey, 3, kWelcome},  // already written

      // IE7 present; the setup runs and installs nothing.
      {S::kInstallsNothing, Op::GetCommandLineW, 1, kNoArgsRanNoWelcome},
      {S::kInstallsNothing, Op::GetStartupInfoW, 1, kRanNoWelcome},
      {S::kInstallsNothing, Op::RegOpenKeyExW, 1, kRanNoWelcome},
      {S::kInstallsNothing, Op::RegQueryValueExW, 1, kRanNoWelcome},
      {S::kInstallsNothing, Op::RegCloseKey, 1, kRanNoWelcome},
      {S::kInstallsNothing, Op::GetProcessHeap, 1, kOutOfMemoryBeforeStart},
      {S::kInstallsNothing, Op::HeapAlloc, 1, kOutOfMemoryBeforeStart},
      {S::kInstallsNothing, Op::GetModuleFileNameW, 1, kNotStarted},
      {S::kInstallsNothing, Op::PathRemoveFileSpecW, 1, kNotStarted},
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
      {S::kNoSetup, Op::GetCommandLineW, 1, kNotStarted},
      {S::kNoSetup, Op::GetStartupInfoW, 1, kNotStarted},
      {S::kNoSetup, Op::RegOpenKeyExW, 1, kNotStarted},
      {S::kNoSetup, Op::RegQueryValueExW, 1, kNotStarted},
      {S::kNoSetup, Op::RegCloseKey, 1, kNotStarted},
      {S::kNoSetup, Op::GetProcessHeap, 1, kOutOfMemoryBeforeStart},
      {S::kNoSetup, Op::HeapAlloc, 1, kOutOfMemoryBeforeStart},
      {S::kNoSetup, Op::GetModuleFileNameW, 1, kNotStarted},
      {S::kNoSetup, Op::PathRemoveFileSpecW, 1, kNotStarted},
      {S::kNoSetup, Op::PathAppendW, 1, kNotStarted},
      {S::kNoSetup, Op::GetProcessHeap, 2, kOutOfMemoryBeforeStart},
      {S::kNoSetup, Op::HeapAlloc, 2, kOutOfMemoryBeforeStart},
      {S::kNoSetup, Op::CreateProcessW, 1, kNotStarted},
      {S::kNoSetup, Op::HeapFree, 1, kNotStarted},
      {S::kNoSetup, Op::HeapFree, 2, kNotStarted},
  };
  return table;
}

struct SweepCase {
  Scenario scenario;
  Op op;
  int nth;
  bool madeInCleanRun;  // false: only the table names this call
};

// How CTest's test list shows a case.
void PrintTo(const SweepCase& c, std::ostream* out) {
  *out << ScenarioName(c.scenario) << ", call " << c.nth << " of "
       << platform::memory::OpName(c.op);
}

bool SameCall(const SweepCase& c, const Expectation& e) {
  return c.scenario == e.scenario && c.op == e.op && c.nth == e.nth;
}

unsigned RunUnchecked(const std::u16string& commandLine) {
  Machine& m = Machine::Current();
  m.commandLine = commandLine;
  StartUp();
  return m.exitCode.value_or(12345);
}

// Every call each scenario makes when nothing fails, then the table's entries
// that name no such call.
std::vector<SweepCase> SweepCases() {
  std::vector<SweepCase> cases;
  Machine& m = Machine::Current();
  for (Scenario scenario : kScenarios) {
    m.Reset();
    Prepare(scenario);
    RunUnchecked(kSweepCommandLine);
    for (int index = 0; index < platform::memory::kOpCount; ++index) {
      const Op op = static_cast<Op>(index);
      if (!CanFail(op)) {
        continue;
      }
      for (int nth = 1; nth <= m.CountCalls(op); ++nth) {
        cases.push_back({scenario, op, nth, true});
      }
    }
  }
  m.Reset();
  for (const Expectation& e : Expectations()) {
    bool named = false;
    for (const SweepCase& c : cases) {
      named = named || SameCall(c, e);
    }
    if (!named) {
      cases.push_back({e.scenario, e.op, e.nth, false});
    }
  }
  return cases;
}

class SweepTest : public RunTest,
                  public ::testing::WithParamInterface<SweepCase> {};

TEST_P(SweepTest, OutcomeAndNothingLeftOpen) {
  const SweepCase& c = GetParam();
  ASSERT_TRUE(c.madeInCleanRun)
      << "the table expects an outcome for a call that is never made";
  std::vector<Outcome> found;
  for (const Expectation& e : Expectations()) {
    if (SameCall(c, e)) {
      found.push_back(e.outcome);
    }
  }
  ASSERT_EQ(found.size(), 1u)
      << "each call must have exactly one expected outcome in the table";
  const Outcome& expected = found[0];

  Prepare(c.scenario);
  machine().Fail(c.op, c.nth);
  EXPECT_EQ(Run(kSweepCommandLine), expected.exitCode);
  // The failure was made: the run got as far as that call.
  EXPECT_GE(machine().CountCalls(c.op), c.nth);

  // What was started.
  if (expected.started == nullptr) {
    EXPECT_TRUE(machine().launches.empty());
  } else {
    EXPECT_EQ(machine().launches.size(), 1u);
    for (const auto& launch : machine().launches) {
      EXPECT_EQ(Narrow(launch.applicationName), "C:\\Setup\\iesetup.exe");
      EXPECT_EQ(Narrow(launch.commandLine), expected.started);
    }
  }

  // What was written: the welcome entry and nothing else.
  const std::vector<std::u16string> welcomeWrite = {
      platform::memory::Fold(u"hkcu\\" + std::u16string(testing::kRunOnce)) +
      u"\\IE_Welcome"};
  EXPECT_EQ(machine().writes,
            expected.welcome ? welcomeWrite : std::vector<std::u16string>{});
  const platform::memory::Value* welcome = Welcome();
  EXPECT_EQ(welcome != nullptr, expected.welcome);
  if (welcome != nullptr) {
    EXPECT_EQ(welcome->type, platform::kRegSz);
    EXPECT_EQ(welcome->bytes,
              platform::memory::Bytes(
                  u"\"C:\\Program Files\\Internet Explorer\\iexplore.exe\"",
                  true));
  }

  // Nothing left open or allocated.
  EXPECT_EQ(machine().OpenKeys(), 0u);
  EXPECT_EQ(machine().OpenHandles(), 0u);
  EXPECT_EQ(machine().LiveBlocks(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    EveryFailure, SweepTest, ::testing::ValuesIn(SweepCases()),
    [](const ::testing::TestParamInfo<SweepCase>& info) {
      return ScenarioName(info.param.scenario) + "_" +
             platform::memory::OpName(info.param.op) + "_" +
             std::to_string(info.param.nth);
    });

}  // namespace
}  // namespace assistant
