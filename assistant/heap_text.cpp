#include "assistant/heap_text.h"

#include "assistant/bounded_string.h"
#include "platform/platform.h"

namespace assistant {

HeapText::HeapText(HeapText&& other) noexcept
    : units_(other.units_), capacity_(other.capacity_), heap_(other.heap_) {
  other.units_ = nullptr;
  other.capacity_ = 0;
  other.heap_ = 0;
}

HeapText& HeapText::operator=(HeapText&& other) noexcept {
  if (this != &other) {
    Release();
    units_ = other.units_;
    capacity_ = other.capacity_;
    heap_ = other.heap_;
    other.units_ = nullptr;
    other.capacity_ = 0;
    other.heap_ = 0;
  }
  return *this;
}

HeapText::~HeapText() { Release(); }

HeapText HeapText::Allocate(std::size_t units) {
  HeapText text;
  if (units == 0 || units > static_cast<std::size_t>(-1) / sizeof(char16_t)) {
    return text;
  }
  const platform::Handle heap = platform::GetProcessHeap();
  if (heap == 0) {
    return text;  // no heap to allocate from: as when it has no room
  }
  void* block = platform::HeapAlloc(heap, 0, units * sizeof(char16_t));
  if (block != nullptr) {
    text.units_ = static_cast<char16_t*>(block);
    text.capacity_ = units;
    text.heap_ = heap;
  }
  return text;
}

HeapText HeapText::CopyOf(const char16_t* text) {
  const std::size_t units = TextLength(text) + 1;
  HeapText copy = Allocate(units);
  if (copy) {
    CopyBounded(copy.units_, units, text);
  }
  return copy;
}

void HeapText::Release() {
  if (units_ != nullptr) {
    platform::HeapFree(heap_, 0, units_);
    units_ = nullptr;
    capacity_ = 0;
    heap_ = 0;
  }
}

}  // namespace assistant
