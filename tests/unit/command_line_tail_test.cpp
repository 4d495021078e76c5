#include "assistant/command_line_tail.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "platform/memory_platform.h"

namespace assistant {
namespace {

struct TailCase {
  const char* name;
  std::u16string commandLine;
  std::u16string tail;
};

// GoogleTest prints a case by its name, never as a dump of its bytes.
void PrintTo(const TailCase& c, std::ostream* out) { *out << c.name; }

class CommandLineTailTest : public ::testing::TestWithParam<TailCase> {};

TEST_P(CommandLineTailTest, IsTheTextAfterTheProgramPath) {
  std::u16string commandLine = GetParam().commandLine;
  const char16_t* tail = CommandLineTail(commandLine.data());
  EXPECT_EQ(platform::memory::Narrow(tail),
            platform::memory::Narrow(GetParam().tail));
  // The tail is always the end of the command line itself, never a copy.
  EXPECT_EQ(tail + std::u16string(tail).size(),
            commandLine.data() + commandLine.size());
}

INSTANTIATE_TEST_SUITE_P(
    Scan, CommandLineTailTest,
    ::testing::Values(
        TailCase{"bare_path_only", u"C:\\Pkg\\a.exe", u""},
        TailCase{"quoted_path_only", u"\"C:\\My Pkg\\a.exe\"", u""},
        TailCase{"path_then_blanks_only", u"a.exe \t\r\n\x01\x1f ", u""},
        TailCase{"bare_path_then_text", u"a.exe /quiet", u"/quiet"},
        TailCase{"quoted_path_then_text", u"\"C:\\My Pkg\\a.exe\" /quiet",
                 u"/quiet"},
        TailCase{"quote_glued_to_more_path", u"\"C:\\a\"b.exe x", u"x"},
        TailCase{"quote_glued_nothing_after", u"\"C:\\a\"b.exe", u""},
        TailCase{"open_quote_swallows_rest", u"\"C:\\a b.exe /quiet", u""},
        TailCase{"quotes_inside_path", u"C:\\\"a b\"\\c.exe x y", u"x y"},
        TailCase{"tab_ends_path", u"a.exe\t/x", u"/x"},
        TailCase{"control_mix_skipped", u"a.exe \t\r\n\x02\x19/x", u"/x"},
        TailCase{"single_word", u"word", u""},
        TailCase{"leading_blank_empty_path", u"  /quiet /norestart",
                 u"/quiet /norestart"},
        TailCase{"nbsp_does_not_end_path", u"a.exe\u00a0b c", u"c"},
        TailCase{"ideographic_space_kept", u"a.exe \u3000x", u"\u3000x"},
        TailCase{"kept_verbatim",
                 u"a.exe /a  \"b c\"\t\\\\d\\\" e  ",
                 u"/a  \"b c\"\t\\\\d\\\" e  "},
        TailCase{"backslash_escapes_nothing", u"\"C:\\a\\\" b\" c", u"b\" c"},
        TailCase{"empty_command_line", u"", u""}),
    [](const ::testing::TestParamInfo<TailCase>& info) {
      return std::string(info.param.name);
    });

TEST(CommandLineTail, NullCommandLineHasEmptyTail) {
  const char16_t* tail = CommandLineTail(nullptr);
  ASSERT_NE(tail, nullptr);
  EXPECT_EQ(tail[0], 0);
}

}  // namespace
}  // namespace assistant
