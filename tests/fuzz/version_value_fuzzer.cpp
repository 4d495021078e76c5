// Fuzzes the reading of the browser's "Version" value and the search for
// "8.0." in it, on a value of any type and any bytes in the in-memory
// registry.
//
// Input:
//   byte 0      the capacity, in units, of the buffer for a direct read
//   bytes 1-4   the value's type, a little-endian DWORD
//   the rest    the value's bytes, stored as they stand (any count)
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "assistant/browser_registry.h"
#include "platform/memory_platform.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using platform::memory::Machine;
using platform::memory::Op;

struct Reading {
  platform::Status status;
  std::u16string text;  // the text before the first null, on success
};

// What reading `bytes` of `type` into `capacity` units must give. A value
// longer than the buffer is the platform's ERROR_MORE_DATA; then a type other
// than REG_SZ and REG_EXPAND_SZ is refused; an empty value is the empty text
// (which needs one unit for its terminator); an odd byte count or a last
// unit that is not null is refused.
Reading ReferenceRead(platform::Dword type,
                      const std::vector<std::uint8_t>& bytes,
                      std::size_t capacity) {
  if (bytes.size() > capacity * 2) {
    return {platform::kErrorMoreData, {}};
  }
  if (type != platform::kRegSz && type != platform::kRegExpandSz) {
    return {platform::kErrorInvalidData, {}};
  }
  if (bytes.empty()) {
    if (capacity == 0) {
      return {platform::kErrorMoreData, {}};
    }
    return {platform::kErrorSuccess, {}};
  }
  if (bytes.size() % 2 != 0 || bytes[bytes.size() - 1] != 0 ||
      bytes[bytes.size() - 2] != 0) {
    return {platform::kErrorInvalidData, {}};
  }
  return {platform::kErrorSuccess,
          fuzz::UpToNull(fuzz::Units(bytes.data(), bytes.size()))};
}

bool ReferenceContains(const std::u16string& text) {
  return fuzz::UpToNull(text).find(u"8.0.") != std::u16string::npos;
}

// Neither a null unit nor any unit of "8.0.".
constexpr char16_t kFill = 0xCDCD;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size < 5) {
    return 0;
  }
  const std::size_t capacity = data[0];
  platform::Dword type = 0;
  for (int i = 4; i >= 1; --i) {
    type = (type << 8) | data[i];
  }
  const std::vector<std::uint8_t> bytes(data + 5, data + size);

  Machine& machine = Machine::Current();
  machine.Reset();
  machine.SetValue(platform::kLocalMachine, assistant::kBrowserKey, u"Version",
                   type, bytes);

  // A direct read into a buffer of exactly `capacity` units.
  {
    platform::Hkey key = 0;
    FUZZ_CHECK(platform::RegOpenKeyExW(platform::kLocalMachine,
                                       assistant::kBrowserKey, 0,
                                       platform::kKeyRead,
                                       &key) == platform::kErrorSuccess);
    std::unique_ptr<char16_t[]> buffer = fuzz::Block(capacity, kFill);
    const platform::Status status = assistant::ReadStringValue(
        key, u"Version", buffer.get(), static_cast<platform::Dword>(capacity));
    platform::RegCloseKey(key);
    const Reading expected = ReferenceRead(type, bytes, capacity);
    FUZZ_CHECK(status == expected.status);
    if (status == platform::kErrorSuccess) {
      std::u16string text;
      FUZZ_CHECK(fuzz::TextWithin(buffer.get(), capacity, text));
      FUZZ_CHECK(text == expected.text);
    }
  }

  // The probe: its own 64-unit buffer, nothing allocated, nothing left open.
  const int allocations = machine.CountCalls(Op::HeapAlloc);
  const Reading probed =
      ReferenceRead(type, bytes, assistant::kVersionCapacity);
  FUZZ_CHECK(assistant::IsIE8Installed() ==
             (probed.status == platform::kErrorSuccess &&
              ReferenceContains(probed.text)));
  FUZZ_CHECK(machine.CountCalls(Op::HeapAlloc) == allocations);
  FUZZ_CHECK(machine.OpenKeys() == 0);
  FUZZ_CHECK(machine.LiveBlocks() == 0);

  // The search on its own, over the value's bytes as a text of any length.
  const std::u16string text = fuzz::UpToNull(fuzz::Units(bytes.data(),
                                                         bytes.size()));
  const std::unique_ptr<char16_t[]> terminated = fuzz::Terminated(text);
  FUZZ_CHECK(assistant::ContainsIE8Version(terminated.get()) ==
             ReferenceContains(text));
  return 0;
}
