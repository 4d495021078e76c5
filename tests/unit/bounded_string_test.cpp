#include "assistant/bounded_string.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "platform/memory_platform.h"

namespace assistant {
namespace {

using platform::memory::Narrow;

constexpr char16_t kGuard = u'#';

// A destination of `capacity` units with guard units behind it.
struct Destination {
  explicit Destination(std::size_t capacity, std::u16string initial = u"")
      : capacity(capacity), units(capacity + 4, kGuard) {
    for (std::size_t i = 0; i < initial.size(); ++i) {
      units[i] = initial[i];
    }
    if (capacity > initial.size()) {
      units[initial.size()] = 0;
    }
  }
  std::u16string Text() const { return std::u16string(units.data()); }
  bool GuardsIntact() const {
    for (std::size_t i = capacity; i < units.size(); ++i) {
      if (units[i] != kGuard) {
        return false;
      }
    }
    return true;
  }
  std::size_t capacity;
  std::vector<char16_t> units;
};

struct BoundedCase {
  const char* name;
  std::size_t capacity;
  std::u16string initial;  // for append
  std::u16string source;
  std::u16string copied;
  std::u16string appended;
};

// GoogleTest prints a case by its name, never as a dump of its bytes.
void PrintTo(const BoundedCase& c, std::ostream* out) { *out << c.name; }

class BoundedTest : public ::testing::TestWithParam<BoundedCase> {};

TEST_P(BoundedTest, CopyKeepsCapacityMinusOneUnits) {
  const BoundedCase& c = GetParam();
  Destination d(c.capacity);
  CopyBounded(d.units.data(), c.capacity, c.source.c_str());
  EXPECT_EQ(Narrow(d.Text()), Narrow(c.copied));
  EXPECT_TRUE(d.GuardsIntact());
}

TEST_P(BoundedTest, AppendWritesAfterThePresentText) {
  const BoundedCase& c = GetParam();
  Destination d(c.capacity, c.initial);
  AppendBounded(d.units.data(), c.capacity, c.source.c_str());
  EXPECT_EQ(Narrow(d.Text()), Narrow(c.appended));
  EXPECT_TRUE(d.GuardsIntact());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BoundedTest,
    ::testing::Values(
        BoundedCase{"fits", 8, u"ab", u"cde", u"cde", u"abcde"},
        BoundedCase{"exactly_capacity_minus_one", 4, u"", u"abc", u"abc",
                    u"abc"},
        BoundedCase{"one_unit_too_long", 4, u"", u"abcd", u"abc", u"abc"},
        BoundedCase{"much_too_long", 4, u"a", u"bcdefgh", u"bcd", u"abc"},
        BoundedCase{"full_destination", 3, u"ab", u"c", u"c", u"ab"},
        BoundedCase{"empty_source", 5, u"ab", u"", u"", u"ab"},
        BoundedCase{"capacity_one", 1, u"", u"abc", u"", u""}),
    [](const ::testing::TestParamInfo<BoundedCase>& info) {
      return std::string(info.param.name);
    });

TEST(Bounded, CapacityZeroWritesNothing) {
  Destination d(0);
  CopyBounded(d.units.data(), 0, u"abc");
  AppendBounded(d.units.data(), 0, u"abc");
  FormatBounded(d.units.data(), 0, u"\"%s\"", {u"abc"});
  EXPECT_TRUE(d.GuardsIntact());
}

TEST(Bounded, AppendWithoutTerminatorInCapacityWritesNothing) {
  Destination d(3, u"abc");  // no room for a terminator
  AppendBounded(d.units.data(), 3, u"x");
  EXPECT_EQ(d.units[0], u'a');
  EXPECT_EQ(d.units[2], u'c');
  EXPECT_TRUE(d.GuardsIntact());
}

struct FormatCase {
  const char* name;
  std::size_t capacity;
  std::u16string format;
  std::u16string value;
  std::u16string written;
};

// GoogleTest prints a case by its name, never as a dump of its bytes.
void PrintTo(const FormatCase& c, std::ostream* out) { *out << c.name; }

class FormatTest : public ::testing::TestWithParam<FormatCase> {};

TEST_P(FormatTest, WritesTheFormattedTextCut) {
  const FormatCase& c = GetParam();
  Destination d(c.capacity);
  FormatBounded(d.units.data(), c.capacity, c.format.c_str(),
                {c.value.c_str()});
  EXPECT_EQ(Narrow(d.Text()), Narrow(c.written));
  EXPECT_TRUE(d.GuardsIntact());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FormatTest,
    ::testing::Values(
        FormatCase{"quoted", 16, u"\"%s\"", u"C:\\a b", u"\"C:\\a b\""},
        FormatCase{"exact_fit", 9, u"\"%s\"", u"C:\\a b", u"\"C:\\a b\""},
        FormatCase{"closing_quote_cut", 8, u"\"%s\"", u"C:\\a b",
                   u"\"C:\\a b"},
        FormatCase{"value_cut", 4, u"\"%s\"", u"C:\\a b", u"\"C:"},
        FormatCase{"value_units_unchanged", 16, u"%s", u"%s\"\\", u"%s\"\\"},
        FormatCase{"plain_text", 16, u"ab%", u"x", u"ab%"}),
    [](const ::testing::TestParamInfo<FormatCase>& info) {
      return std::string(info.param.name);
    });

}  // namespace
}  // namespace assistant
