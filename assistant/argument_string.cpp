#include "assistant/argument_string.h"

#include "assistant/bounded_string.h"

namespace assistant {

bool ArgumentString::Assign(const char16_t* tail) {
  HeapText storage = HeapText::CopyOf(tail);
  if (!storage) {
    return false;
  }
  // The copy holds the text and its terminator.
  length_ = storage.Capacity() - 1;
  storage_ = static_cast<HeapText&&>(storage);
  return true;
}

const char16_t* ArgumentString::Text() const {
  return storage_ ? storage_.Units() : u"";
}

}  // namespace assistant
