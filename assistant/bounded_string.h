// Text operations that never write past their destination's capacity.
//
// Each writes at most capacity - 1 units of text followed by the terminator;
// a capacity of 0 writes nothing.
#pragma once

#include <cstddef>
#include <initializer_list>

namespace assistant {

// Units before the terminator.
std::size_t TextLength(const char16_t* text);

void CopyBounded(char16_t* destination, std::size_t capacity,
                 const char16_t* source);

// Appends after the terminated text already in `destination`.
void AppendBounded(char16_t* destination, std::size_t capacity,
                   const char16_t* source);

// The format's only directive is %s, which takes the next of `values` and
// writes its units unchanged; every other unit is written as it stands.
void FormatBounded(char16_t* destination, std::size_t capacity,
                   const char16_t* format,
                   std::initializer_list<const char16_t*> values);

}  // namespace assistant
