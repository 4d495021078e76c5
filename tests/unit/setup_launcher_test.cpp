#include "assistant/setup_launcher.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "tests/unit/machine.h"

namespace assistant {
namespace {

using platform::memory::Narrow;
using testing::MachineTest;
using testing::Op;

ArgumentString Arguments(const std::u16string& text) {
  ArgumentString arguments;
  EXPECT_TRUE(arguments.Assign(text.c_str()));
  return arguments;
}

struct CommandLineCase {
  const char* name;
  std::u16string setupPath;
  std::u16string arguments;
  std::u16string commandLine;
};

// GoogleTest prints a case by its name, never as a dump of its bytes.
void PrintTo(const CommandLineCase& c, std::ostream* out) { *out << c.name; }

class CommandLineTest : public MachineTest,
                        public ::testing::WithParamInterface<CommandLineCase> {
};

TEST_P(CommandLineTest, IsThePathPartThenOneSpaceAndTheText) {
  const CommandLineCase& c = GetParam();
  ArgumentString arguments = Arguments(c.arguments);
  const std::size_t units =
      SetupCommandLineUnits(c.setupPath.c_str(), arguments.Length());
  EXPECT_EQ(units, c.commandLine.size() + 1);
  std::u16string buffer(units + 8, u'#');
  BuildSetupCommandLine(c.setupPath.c_str(), arguments, buffer.data(), units);
  EXPECT_EQ(Narrow(buffer.c_str()), Narrow(c.commandLine));
  EXPECT_EQ(buffer.substr(units), std::u16string(8, u'#'));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CommandLineTest,
    ::testing::Values(
        CommandLineCase{"bare_no_arguments", u"C:\\Setup\\iesetup.exe", u"",
                        u"C:\\Setup\\iesetup.exe"},
        CommandLineCase{"bare_with_arguments", u"C:\\Setup\\iesetup.exe",
                        u"/quiet /norestart",
                        u"C:\\Setup\\iesetup.exe /quiet /norestart"},
        CommandLineCase{"quoted_no_arguments", u"C:\\My Setup\\iesetup.exe",
                        u"", u"\"C:\\My Setup\\iesetup.exe\""},
        CommandLineCase{"quoted_with_arguments", u"C:\\My Setup\\iesetup.exe",
                        u"/quiet", u"\"C:\\My Setup\\iesetup.exe\" /quiet"},
        CommandLineCase{"nbsp_stays_bare", u"C:\\My\u00a0Setup\\iesetup.exe",
                        u"/q", u"C:\\My\u00a0Setup\\iesetup.exe /q"},
        CommandLineCase{"tab_stays_bare", u"C:\\My\tSetup\\iesetup.exe", u"",
                        u"C:\\My\tSetup\\iesetup.exe"},
        CommandLineCase{"arguments_verbatim", u"C:\\S\\iesetup.exe",
                        u"a  \"b c\"\t\\\\d\\\" e ",
                        u"C:\\S\\iesetup.exe a  \"b c\"\t\\\\d\\\" e "}),
    [](const ::testing::TestParamInfo<CommandLineCase>& info) {
      return std::string(info.param.name);
    });

TEST_F(MachineTest, LongArgumentTextIsNeverCut) {
  // Far past the 519 units a fixed 520-unit buffer would have kept.
  const std::u16string text =
      u"/log:C:\\Logs\\" + std::u16string(5000, u'x') + u" /quiet";
  ArgumentString arguments = Arguments(text);
  const std::u16string path = u"C:\\My Setup\\iesetup.exe";
  const std::size_t units = SetupCommandLineUnits(path.c_str(), text.size());
  EXPECT_EQ(units, path.size() + 2 + 1 + text.size() + 1);
  std::u16string buffer(units, u'#');
  BuildSetupCommandLine(path.c_str(), arguments, buffer.data(), units);
  EXPECT_EQ(buffer.c_str(), u"\"" + path + u"\" " + text);
}

// What the launch with `argumentUnits` units of argument text gives.
Launch LaunchWithArgumentOf(std::size_t argumentUnits) {
  ArgumentString arguments = Arguments(std::u16string(argumentUnits, u'a'));
  return LaunchSetup(arguments);
}

TEST_F(MachineTest, CommandLineUpToThePlatformLimitStarts) {
  ProvideSetup(u"");
  // "C:\Setup\iesetup.exe" is 20 units: 20 + 1 + A + 1 <= 32767.
  const std::size_t longest = 32767 - 20 - 1 - 1;
  EXPECT_EQ(LaunchWithArgumentOf(longest), Launch::kStarted);
  ASSERT_EQ(machine().launches.size(), 1u);
  EXPECT_EQ(machine().launches[0].commandLine.size(), 32766u);

  machine().launches.clear();
  EXPECT_EQ(LaunchWithArgumentOf(longest + 1), Launch::kNotStarted);
  EXPECT_TRUE(machine().launches.empty());
  EXPECT_EQ(machine().CountCalls(Op::CreateProcessW), 1);
  EXPECT_EQ(machine().LiveBlocks(), 0u);
}

TEST_F(MachineTest, LaunchStartsTheSetupBesideTheAssistantAndWaits) {
  ProvideSetup(u"");
  ArgumentString arguments = Arguments(u"/quiet");
  EXPECT_EQ(LaunchSetup(arguments), Launch::kStarted);
  ASSERT_EQ(machine().launches.size(), 1u);
  const auto& launch = machine().launches[0];
  EXPECT_EQ(Narrow(launch.applicationName), "C:\\Setup\\iesetup.exe");
  EXPECT_EQ(Narrow(launch.commandLine), "C:\\Setup\\iesetup.exe /quiet");
  EXPECT_FALSE(launch.processAttributes);
  EXPECT_FALSE(launch.threadAttributes);
  EXPECT_EQ(launch.inheritHandles, 0);
  EXPECT_EQ(launch.creationFlags, 0u);
  EXPECT_FALSE(launch.environmentGiven);
  EXPECT_FALSE(launch.currentDirectoryGiven);
  EXPECT_EQ(launch.startupInfo.cb, 68u);
  // No standard handles, said outright; nothing else asked for.
  EXPECT_EQ(launch.startupInfo.flags, platform::kStartfUseStdHandles);
  EXPECT_EQ(launch.startupInfo.stdInput, 0u);
  EXPECT_EQ(launch.startupInfo.stdOutput, 0u);
  EXPECT_EQ(launch.startupInfo.stdError, 0u);
  EXPECT_EQ(launch.startupInfo.desktop, nullptr);
  EXPECT_EQ(launch.startupInfo.title, nullptr);
  EXPECT_EQ(launch.startupInfo.showWindow, 0u);

  EXPECT_EQ(machine().CountCalls(Op::WaitForSingleObject), 1);
  for (const auto& call : machine().calls) {
    if (call.op == Op::WaitForSingleObject) {
      EXPECT_EQ(call.access, platform::kInfinite);
    }
  }
  EXPECT_EQ(machine().RunningChildren(), 0u);
  EXPECT_EQ(machine().OpenHandles(), 0u);
  EXPECT_EQ(machine().LiveBlocks(), 1u);  // the caller's argument text only
}

TEST_F(MachineTest, LaunchReleasesBufferThenThreadThenProcess) {
  ProvideSetup(u"");
  ArgumentString arguments = Arguments(u"");
  ASSERT_EQ(LaunchSetup(arguments), Launch::kStarted);
  std::vector<Op> after;
  bool waited = false;
  for (const auto& call : machine().calls) {
    if (waited && (call.op == Op::HeapFree || call.op == Op::CloseHandle)) {
      after.push_back(call.op);
    }
    waited = waited || call.op == Op::WaitForSingleObject;
  }
  EXPECT_EQ(after, (std::vector<Op>{Op::HeapFree, Op::CloseHandle,
                                    Op::CloseHandle}));
  // The thread handle (created second) goes first.
  EXPECT_EQ(machine().OpenHandles(), 0u);
}

TEST_F(MachineTest, LaunchQuotesAFolderWithASpace) {
  machine().modulePath = u"C:\\My Setup\\assistant.exe";
  ProvideSetup(u"", u"C:\\My Setup\\iesetup.exe");
  ArgumentString arguments = Arguments(u"");
  EXPECT_EQ(LaunchSetup(arguments), Launch::kStarted);
  ASSERT_EQ(machine().launches.size(), 1u);
  EXPECT_EQ(Narrow(machine().launches[0].applicationName),
            "C:\\My Setup\\iesetup.exe");
  EXPECT_EQ(Narrow(machine().launches[0].commandLine),
            "\"C:\\My Setup\\iesetup.exe\"");
}

TEST_F(MachineTest, MissingSetupIsNotStartedAndNotWaitedFor) {
  ArgumentString arguments = Arguments(u"/quiet");
  EXPECT_EQ(LaunchSetup(arguments), Launch::kNotStarted);
  EXPECT_EQ(machine().CountCalls(Op::CreateProcessW), 1);
  EXPECT_EQ(machine().CountCalls(Op::WaitForSingleObject), 0);
  EXPECT_EQ(machine().CountCalls(Op::CloseHandle), 0);
  EXPECT_EQ(machine().LiveBlocks(), 1u);  // the argument text only
}

struct PathFailure {
  const char* name;
  std::u16string modulePath;
  Op failing;  // Op::ExitProcess: nothing fails
};

// GoogleTest prints a case by its name, never as a dump of its bytes.
void PrintTo(const PathFailure& c, std::ostream* out) { *out << c.name; }

class SetupPathTest : public MachineTest,
                      public ::testing::WithParamInterface<PathFailure> {};

TEST_P(SetupPathTest, StartsNothing) {
  const PathFailure& c = GetParam();
  machine().modulePath = c.modulePath;
  if (c.failing != Op::ExitProcess) {
    machine().Fail(c.failing);
  }
  // Whatever a cut path would name, a program there must not start.
  machine().programs.insert(u"c:\\iesetup.exe");
  machine().programs.insert(u"iesetup.exe");
  machine().programs.insert(platform::memory::Fold(
      c.modulePath.substr(0, 200) + u"\\iesetup.exe"));
  ArgumentString arguments = Arguments(u"/quiet");
  EXPECT_EQ(LaunchSetup(arguments), Launch::kNotStarted);
  EXPECT_EQ(machine().CountCalls(Op::CreateProcessW), 0);
  EXPECT_EQ(machine().LiveBlocks(), 1u);  // the argument text only
}

INSTANTIATE_TEST_SUITE_P(
    Failures, SetupPathTest,
    ::testing::Values(
        PathFailure{"module_path_unknown", u"C:\\Setup\\a.exe",
                    Op::GetModuleFileNameW},
        PathFailure{"module_path_cut",
                    u"C:\\" + std::u16string(197, u'd') + u"\\" +
                        std::u16string(100, u'f') + u".exe",
                    Op::ExitProcess},
        PathFailure{"module_path_fills_buffer",
                    u"C:\\" + std::u16string(251, u'd') + u"\\a.exe",
                    Op::ExitProcess},
        PathFailure{"no_room_for_setup_name",
                    u"C:\\" + std::u16string(245, u'd') + u"\\a.exe",
                    Op::ExitProcess},
        PathFailure{"file_spec_not_removed", u"C:\\Setup\\a.exe",
                    Op::PathRemoveFileSpecW},
        PathFailure{"append_fails", u"C:\\Setup\\a.exe", Op::PathAppendW}),
    [](const ::testing::TestParamInfo<PathFailure>& info) {
      return std::string(info.param.name);
    });

TEST_F(MachineTest, LongestSetupPathThatFitsStarts) {
  // A folder of 247 units leaves exactly room for "\iesetup.exe" (12).
  const std::u16string folder = u"C:\\" + std::u16string(244, u'd');
  machine().modulePath = folder + u"\\a.exe";
  ProvideSetup(u"", folder + u"\\iesetup.exe");
  ArgumentString arguments = Arguments(u"");
  EXPECT_EQ(LaunchSetup(arguments), Launch::kStarted);
  ASSERT_EQ(machine().launches.size(), 1u);
  EXPECT_EQ(machine().launches[0].applicationName.size(), 259u);
}

TEST_F(MachineTest, LaunchOutOfMemoryStartsNothing) {
  ProvideSetup(u"");
  ArgumentString arguments = Arguments(u"/quiet");
  machine().Fail(Op::HeapAlloc);
  EXPECT_EQ(LaunchSetup(arguments), Launch::kOutOfMemory);
  EXPECT_TRUE(machine().launches.empty());
  EXPECT_EQ(machine().LiveBlocks(), 1u);
}

TEST_F(MachineTest, FailedWaitStillCountsAsStarted) {
  ProvideSetup(u"");
  machine().Fail(Op::WaitForSingleObject);
  ArgumentString arguments = Arguments(u"");
  EXPECT_EQ(LaunchSetup(arguments), Launch::kStarted);
  EXPECT_EQ(machine().OpenHandles(), 0u);
}

}  // namespace
}  // namespace assistant
