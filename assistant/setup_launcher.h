// Runs the installer "iesetup.exe" from the assistant's own folder with the
// assistant's argument text and waits for it to end.
#pragma once

#include <cstddef>

#include "assistant/argument_string.h"

namespace assistant {

inline constexpr const char16_t* kSetupFileName = u"iesetup.exe";

// Units that the setup program's command line needs, terminator included:
// the setup path (in quotes when it holds a space), then one space and the
// argument text when that is not empty.
std::size_t SetupCommandLineUnits(const char16_t* setupPath,
                                  std::size_t argumentLength);

// Writes that command line into `commandLine`, which holds `capacity` units;
// a capacity below SetupCommandLineUnits cuts it.
void BuildSetupCommandLine(const char16_t* setupPath,
                           const ArgumentString& arguments,
                           char16_t* commandLine, std::size_t capacity);

// The full path of iesetup.exe beside the assistant's executable, in a
// MAX_PATH buffer; false when the assistant's own path was not had whole or
// the name does not fit.
bool FormSetupPath(char16_t* setupPath);

enum class Launch { kNotStarted, kStarted, kOutOfMemory };

// kStarted once the setup program has been created and has ended, whatever
// its exit code. kNotStarted when it cannot be found, formed within the
// platform's limits or created.
Launch LaunchSetup(const ArgumentString& arguments);

}  // namespace assistant
