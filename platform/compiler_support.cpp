// The image carries no C runtime, yet the compiler may turn the zeroing and
// copying of buffers into calls to memset and memcpy. These are the ones it
// gets. The file is built with -fno-builtin and without loop-to-call
// optimisation, so neither loop is turned back into a call to itself.
#include <cstddef>

extern "C" {

void* memset(void* destination, int value, std::size_t bytes) {
  auto* out = static_cast<unsigned char*>(destination);
  for (std::size_t i = 0; i < bytes; ++i) {
    out[i] = static_cast<unsigned char>(value);
  }
  return destination;
}

void* memcpy(void* destination, const void* source, std::size_t bytes) {
  auto* out = static_cast<unsigned char*>(destination);
  const auto* in = static_cast<const unsigned char*>(source);
  for (std::size_t i = 0; i < bytes; ++i) {
    out[i] = in[i];
  }
  return destination;
}

}  // extern "C"
