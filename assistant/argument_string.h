// The assistant's own argument text: a private copy of the command-line tail,
// handed to the setup launcher and released as soon as the launcher returns.
#pragma once

#include <cstddef>

#include "assistant/heap_text.h"

namespace assistant {

class ArgumentString {
 public:
  // Copies `tail` up to its terminator; false when the heap cannot supply the
  // storage, and the string stays empty.
  bool Assign(const char16_t* tail);

  // Terminated text; the empty text before a successful Assign.
  const char16_t* Text() const;
  std::size_t Length() const { return length_; }

 private:
  HeapText storage_;
  std::size_t length_ = 0;
};

}  // namespace assistant
