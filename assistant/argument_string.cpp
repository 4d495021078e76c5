#include "assistant/argument_string.h"

#include "assistant/bounded_string.h"

namespace assistant {

bool ArgumentString::Assign(const char16_t* tail) {
  const std::size_t length = TextLength(tail);
  HeapText storage = HeapText::Allocate(length + 1);
  if (!storage) {
    return false;
  }
  CopyBounded(storage.Units(), length + 1, tail);
  storage_ = static_cast<HeapText&&>(storage);
  length_ = length;
  return true;
}

const char16_t* ArgumentString::Text() const {
  return storage_ ? storage_.Units() : u"";
}

}  // namespace assistant
