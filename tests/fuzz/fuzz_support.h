// What the fuzz targets share: the check that turns a broken property into a
// finding, the input read as UTF-16 units, and terminated copies in blocks of
// exactly their own size, so that AddressSanitizer reports any unit read or
// written past a terminator or a capacity.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

// Ends the run with a finding (the input is kept as a crash artifact) when
// the property does not hold.
#define FUZZ_CHECK(property)                                               \
  do {                                                                     \
    if (!(property)) {                                                     \
      std::fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__,       \
                   __LINE__, #property);                                   \
      std::abort();                                                        \
    }                                                                      \
  } while (false)

namespace fuzz {

// The bytes as little-endian UTF-16 units; an odd last byte is dropped.
inline std::u16string Units(const std::uint8_t* data, std::size_t size) {
  std::u16string units;
  for (std::size_t i = 0; i + 1 < size; i += 2) {
    units.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
  }
  return units;
}

// The text before its first null unit.
inline std::u16string UpToNull(const std::u16string& text) {
  return text.substr(0, text.find(u'\0'));
}

// A heap block of exactly `units` units, each set to `fill`.
inline std::unique_ptr<char16_t[]> Block(std::size_t units, char16_t fill) {
  std::unique_ptr<char16_t[]> block(new char16_t[units]);
  for (std::size_t i = 0; i < units; ++i) {
    block[i] = fill;
  }
  return block;
}

// `text` up to its first null, terminated, in a block with no room after the
// terminator.
inline std::unique_ptr<char16_t[]> Terminated(const std::u16string& text) {
  const std::u16string whole = UpToNull(text);
  std::unique_ptr<char16_t[]> block = Block(whole.size() + 1, 0);
  whole.copy(block.get(), whole.size());
  return block;
}

// The terminated text in a block of `capacity` units; false when no
// terminator lies within the capacity.
inline bool TextWithin(const char16_t* block, std::size_t capacity,
                       std::u16string& text) {
  for (std::size_t i = 0; i < capacity; ++i) {
    if (block[i] == 0) {
      text.assign(block, i);
      return true;
    }
  }
  return false;
}

}  // namespace fuzz
