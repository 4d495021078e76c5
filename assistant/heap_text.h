// An owned block of UTF-16 units taken from the process heap.
#pragma once

#include <cstddef>

#include "platform/platform.h"

namespace assistant {

class HeapText {
 public:
  HeapText() = default;
  HeapText(const HeapText&) = delete;
  HeapText& operator=(const HeapText&) = delete;
  HeapText(HeapText&& other) noexcept;
  HeapText& operator=(HeapText&& other) noexcept;
  ~HeapText();

  // Room for `units` UTF-16 units, contents undefined; empty when the heap
  // cannot supply it.
  static HeapText Allocate(std::size_t units);
  // A copy of the terminated `text`; empty when the heap cannot supply it.
  static HeapText CopyOf(const char16_t* text);

  explicit operator bool() const { return units_ != nullptr; }
  char16_t* Units() const { return units_; }
  std::size_t Capacity() const { return capacity_; }

  // Returns the block now to the heap it came from; an empty holder frees
  // nothing.
  void Release();

 private:
  char16_t* units_ = nullptr;
  std::size_t capacity_ = 0;
  // The heap the block was taken from, kept so that the release cannot fail
  // for want of a heap handle and leave the block behind.
  platform::Handle heap_ = 0;
};

}  // namespace assistant
