// Finds the assistant's own argument text in the process command line.
#pragma once

namespace assistant {

// Skips the program path and the units from U+0001 to U+0020 after it and
// returns the rest, verbatim, up to the terminator. The program path ends at
// the first unit from U+0001 to U+0020 outside quotation marks; each U+0022
// in it toggles quoting and stays part of it. A null command line has an
// empty tail.
const char16_t* CommandLineTail(const char16_t* commandLine);

}  // namespace assistant
