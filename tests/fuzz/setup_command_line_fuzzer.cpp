// Fuzzes the building of the setup program's command line from a setup path
// and the assistant's argument text.
//
// Input:
//   byte 0      bit 0 set: the heap refuses the argument text's storage
//   bytes 1-2   little-endian; picks the capacity of a second, short buffer
//   the rest    little-endian UTF-16 units: the setup path up to the first
//               null unit, then the argument text up to the next one
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "assistant/argument_string.h"
#include "assistant/setup_launcher.h"
#include "platform/memory_platform.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using platform::memory::Machine;
using platform::memory::Op;

// What no build leaves in a buffer: neither a terminator nor a space.
constexpr char16_t kFill = 0xCDCD;

// The path part (quoted exactly when the path holds U+0020), then one space
// and the whole argument text when that is not empty.
std::u16string ReferenceCommandLine(const std::u16string& path,
                                    const std::u16string& arguments) {
  std::u16string line = path;
  if (path.find(u' ') != std::u16string::npos) {
    line = u"\"" + path + u"\"";
  }
  if (!arguments.empty()) {
    line += u" " + arguments;
  }
  return line;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size < 3) {
    return 0;
  }
  const bool heapRefuses = (data[0] & 1) != 0;
  const std::size_t cut = static_cast<std::size_t>(data[1] | (data[2] << 8));
  const std::u16string units = fuzz::Units(data + 3, size - 3);
  const std::size_t pathEnd = units.find(u'\0');
  const std::u16string path = units.substr(0, pathEnd);
  const std::u16string text =
      pathEnd == std::u16string::npos
          ? std::u16string()
          : fuzz::UpToNull(units.substr(pathEnd + 1));

  Machine& machine = Machine::Current();
  machine.Reset();
  if (heapRefuses) {
    machine.Fail(Op::HeapAlloc);
  }
  {
    const std::unique_ptr<char16_t[]> setupPath = fuzz::Terminated(path);
    const std::unique_ptr<char16_t[]> tail = fuzz::Terminated(text);
    assistant::ArgumentString arguments;
    FUZZ_CHECK(arguments.Assign(tail.get()) == !heapRefuses);
    // Refused storage leaves the argument text empty.
    const std::u16string kept = heapRefuses ? std::u16string() : text;
    FUZZ_CHECK(arguments.Length() == kept.size());
    FUZZ_CHECK(std::u16string(arguments.Text()) == kept);

    const std::u16string expected = ReferenceCommandLine(path, kept);
    const std::size_t needed =
        assistant::SetupCommandLineUnits(setupPath.get(), arguments.Length());
    FUZZ_CHECK(needed == expected.size() + 1);

    // In a buffer of exactly the units needed: the whole command line.
    std::unique_ptr<char16_t[]> whole = fuzz::Block(needed, kFill);
    assistant::BuildSetupCommandLine(setupPath.get(), arguments, whole.get(),
                                     needed);
    std::u16string built;
    FUZZ_CHECK(fuzz::TextWithin(whole.get(), needed, built));
    FUZZ_CHECK(built == expected);

    // In a shorter buffer (0 to `needed` units): the command line's first
    // capacity - 1 units and the terminator, nothing past the capacity; a
    // capacity of 0 takes nothing.
    const std::size_t capacity = cut % (needed + 1);
    std::unique_ptr<char16_t[]> shorter = fuzz::Block(capacity, kFill);
    assistant::BuildSetupCommandLine(setupPath.get(), arguments, shorter.get(),
                                     capacity);
    if (capacity != 0) {
      std::u16string cutLine;
      FUZZ_CHECK(fuzz::TextWithin(shorter.get(), capacity, cutLine));
      FUZZ_CHECK(cutLine == expected.substr(0, capacity - 1));
    }
  }
  // The argument text went back to the heap with its holder.
  FUZZ_CHECK(machine.LiveBlocks() == 0);
  return 0;
}
