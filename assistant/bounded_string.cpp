#include "assistant/bounded_string.h"

namespace assistant {

std::size_t TextLength(const char16_t* text) {
  std::size_t length = 0;
  while (text[length] != 0) {
    ++length;
  }
  return length;
}

void CopyBounded(char16_t* destination, std::size_t capacity,
                 const char16_t* source) {
  if (capacity == 0) {
    return;
  }
  std::size_t i = 0;
  for (; i + 1 < capacity && source[i] != 0; ++i) {
    destination[i] = source[i];
  }
  destination[i] = 0;
}

void AppendBounded(char16_t* destination, std::size_t capacity,
                   const char16_t* source) {
  std::size_t end = 0;
  while (end < capacity && destination[end] != 0) {
    ++end;
  }
  if (end == capacity) {
    return;  // no terminator within the capacity: nothing can be appended
  }
  CopyBounded(destination + end, capacity - end, source);
}

void FormatBounded(char16_t* destination, std::size_t capacity,
                   const char16_t* format,
                   std::initializer_list<const char16_t*> values) {
  if (capacity == 0) {
    return;
  }
  const char16_t* const* next = values.begin();
  std::size_t written = 0;
  for (const char16_t* f = format; *f != 0 && written + 1 < capacity; ++f) {
    if (f[0] == u'%' && f[1] == u's') {
      ++f;
      if (next == values.end()) {
        continue;
      }
      for (const char16_t* v = *next++; *v != 0 && written + 1 < capacity;
           ++v) {
        destination[written++] = *v;
      }
    } else {
      destination[written++] = *f;
    }
  }
  destination[written] = 0;
}

}  // namespace assistant
