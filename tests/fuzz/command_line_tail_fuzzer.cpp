// Fuzzes the scan that finds the assistant's argument text in the process
// command line.
//
// Input: little-endian UTF-16 units; the command line is the units before
// the first null unit (the platform hands over a terminated text).
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "assistant/command_line_tail.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

// The units from U+0001 to U+0020.
std::u16string Blanks() {
  std::u16string blanks;
  for (char16_t unit = 1; unit <= 0x20; ++unit) {
    blanks.push_back(unit);
  }
  return blanks;
}

// Where the tail starts, worked out from the rule rather than by a scan like
// the product's: the program path ends at the first unit from U+0001 to
// U+0020 that has an even number of quotation marks before it (the end of the
// text when there is none), and the tail starts at the first unit above
// U+0020 after that (the end of the text when there is none).
std::size_t ReferenceTailStart(const std::u16string& line) {
  static const std::u16string blanks = Blanks();
  std::size_t pathEnd = line.size();
  std::size_t quotesBefore = 0;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (blanks.find(line[i]) != std::u16string::npos && quotesBefore % 2 == 0) {
      pathEnd = i;
      break;
    }
    quotesBefore += line[i] == u'"' ? 1 : 0;
  }
  const std::size_t start = line.find_first_not_of(blanks, pathEnd);
  return start == std::u16string::npos ? line.size() : start;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  const std::u16string line = fuzz::UpToNull(fuzz::Units(data, size));
  std::unique_ptr<char16_t[]> buffer = fuzz::Terminated(line);
  char16_t* const begin = buffer.get();
  char16_t* const end = begin + line.size();

  const char16_t* tail = assistant::CommandLineTail(begin);

  // The tail points into the command line itself, at the reference's start,
  // so it is a suffix of the command line, ending at its terminator.
  FUZZ_CHECK(tail >= begin && tail <= end);
  const std::size_t start = static_cast<std::size_t>(tail - begin);
  FUZZ_CHECK(start == ReferenceTailStart(line));
  FUZZ_CHECK(std::u16string(tail) == line.substr(start));
  // Empty, or starting above U+0020.
  FUZZ_CHECK(tail[0] == 0 || tail[0] > u' ');
  // The scan only reads.
  FUZZ_CHECK(std::u16string(begin) == line);

  const char16_t* none = assistant::CommandLineTail(nullptr);
  FUZZ_CHECK(none != nullptr && none[0] == 0);
  return 0;
}
