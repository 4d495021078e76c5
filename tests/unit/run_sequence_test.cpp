#include "assistant/run_sequence.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "assistant/startup.h"
#include "tests/unit/machine.h"

namespace assistant {
namespace {

using platform::memory::Narrow;
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

enum class Scenario { kPresent, kInstalls, kInstallsNothing, kNoSetup };

struct Expected {
  unsigned exitCode;
  bool started;
  bool welcome;
};

struct SweepCase {
  Scenario scenario;
  Op op;
  int nth;  // which call of `op` fails, counting from 1
  Expected expected;
};

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

constexpr Expected kMinus1{kMinusOne, false, false};
constexpr Expected kNotStarted{0, false, false};
constexpr Expected kRanNoWelcome{0, true, false};
constexpr Expected kWelcome{0, true, true};
constexpr Expected kOutOfMemoryBeforeStart{8, false, false};
constexpr Expected kOutOfMemoryAfterRun{8, true, false};

std::vector<SweepCase> SweepCases() {
  std::vector<SweepCase> cases;
  const auto add = [&](Scenario s, Op op, int nth, Expected e) {
    cases.push_back({s, op, nth, e});
  };
  // IE8 present: only the first probe runs.
  for (Op op : {Op::GetCommandLineW, Op::GetStartupInfoW, Op::RegQueryValueExW,
                Op::RegCloseKey}) {
    add(Scenario::kPresent, op, 1, op == Op::RegQueryValueExW ? kNotStarted
                                                              : kMinus1);
  }
  add(Scenario::kPresent, Op::RegOpenKeyExW, 1, kNotStarted);

  // Not present; the setup installs.
  const Scenario i = Scenario::kInstalls;
  add(i, Op::GetCommandLineW, 1, kWelcome);
  add(i, Op::GetStartupInfoW, 1, kWelcome);
  add(i, Op::RegOpenKeyExW, 1, kWelcome);  // IE7 is read as absent anyway
  add(i, Op::RegQueryValueExW, 1, kWelcome);
  add(i, Op::RegOpenKeyExW, 2, kRanNoWelcome);
  add(i, Op::RegQueryValueExW, 2, kRanNoWelcome);
  add(i, Op::RegCloseKey, 1, kWelcome);
  add(i, Op::RegCloseKey, 2, kWelcome);
  add(i, Op::RegCloseKey, 3, kWelcome);
  add(i, Op::GetProcessHeap, 1, kOutOfMemoryBeforeStart);
  add(i, Op::HeapAlloc, 1, kOutOfMemoryBeforeStart);  // argument text
  add(i, Op::HeapAlloc, 2, kOutOfMemoryBeforeStart);  // command line
  add(i, Op::HeapAlloc, 3, kOutOfMemoryAfterRun);     // browser path
  add(i, Op::HeapFree, 1, kWelcome);
  add(i, Op::HeapFree, 2, kWelcome);
  add(i, Op::HeapFree, 3, kWelcome);
  add(i, Op::GetModuleFileNameW, 1, kNotStarted);
  add(i, Op::PathRemoveFileSpecW, 1, kNotStarted);
  add(i, Op::PathAppendW, 1, kNotStarted);
  add(i, Op::PathAppendW, 2, kRanNoWelcome);
  add(i, Op::CreateProcessW, 1, kNotStarted);
  add(i, Op::CloseHandle, 1, kWelcome);
  add(i, Op::CloseHandle, 2, kWelcome);
  add(i, Op::RegCreateKeyExW, 1, kRanNoWelcome);
  add(i, Op::SHGetFolderPathW, 1, kRanNoWelcome);
  add(i, Op::lstrlenW, 1, kRanNoWelcome);
  add(i, Op::RegSetValueExW, 1, kRanNoWelcome);
  add(i, Op::WaitForSingleObject, 1, kRanNoWelcome);  // setup still running

  // Not present; the setup runs but installs nothing.
  const Scenario n = Scenario::kInstallsNothing;
  for (Op op : {Op::GetCommandLineW, Op::RegOpenKeyExW, Op::RegQueryValueExW,
                Op::RegCloseKey, Op::HeapFree, Op::CloseHandle,
                Op::WaitForSingleObject}) {
    add(n, op, 1, kRanNoWelcome);
  }
  add(n, Op::RegOpenKeyExW, 2, kRanNoWelcome);
  add(n, Op::HeapAlloc, 1, kOutOfMemoryBeforeStart);
  add(n, Op::HeapAlloc, 2, kOutOfMemoryBeforeStart);
  add(n, Op::GetModuleFileNameW, 1, kNotStarted);
  add(n, Op::CreateProcessW, 1, kNotStarted);

  // Not present; no setup program to start.
  const Scenario x = Scenario::kNoSetup;
  for (Op op : {Op::GetCommandLineW, Op::RegOpenKeyExW, Op::RegQueryValueExW,
                Op::HeapFree, Op::GetModuleFileNameW, Op::PathRemoveFileSpecW,
                Op::PathAppendW, Op::CreateProcessW}) {
    add(x, op, 1, kNotStarted);
  }
  add(x, Op::HeapAlloc, 1, kOutOfMemoryBeforeStart);
  add(x, Op::HeapAlloc, 2, kOutOfMemoryBeforeStart);
  return cases;
}

class SweepTest : public RunTest,
                  public ::testing::WithParamInterface<SweepCase> {};

TEST_P(SweepTest, OutcomeAndNothingLeftOpen) {
  const SweepCase& c = GetParam();
  SetVersion(c.scenario == Scenario::kPresent ? u"8.0.6001.18702"
                                              : u"7.0.5730.13");
  if (c.scenario == Scenario::kInstalls) {
    ProvideSetup(u"8.0.6001.18702");
  }
  if (c.scenario == Scenario::kInstallsNothing) {
    ProvideSetup(u"");
  }
  machine().Fail(c.op, c.nth);

  EXPECT_EQ(Run(u"C:\\Setup\\a.exe /quiet"), c.expected.exitCode);
  EXPECT_EQ(machine().launches.size(), c.expected.started ? 1u : 0u);
  EXPECT_EQ(Welcome() != nullptr, c.expected.welcome);
  EXPECT_EQ(machine().writes.size(), c.expected.welcome ? 1u : 0u);
  if (c.expected.welcome) {
    EXPECT_EQ(Welcome()->bytes.size(), 100u);
  }
  EXPECT_EQ(machine().OpenKeys(), 0u);
  EXPECT_EQ(machine().OpenHandles(), 0u);
  EXPECT_EQ(machine().LiveBlocks(), 0u);
  if (c.op != Op::WaitForSingleObject) {
    EXPECT_EQ(machine().RunningChildren(), 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(
    EveryFailure, SweepTest, ::testing::ValuesIn(SweepCases()),
    [](const ::testing::TestParamInfo<SweepCase>& info) {
      return ScenarioName(info.param.scenario) + "_" +
             platform::memory::OpName(info.param.op) + "_" +
             std::to_string(info.param.nth) + "_" +
             std::to_string(info.index);
    });

}  // namespace
}  // namespace assistant
