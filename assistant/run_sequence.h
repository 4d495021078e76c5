// The assistant's whole flow of control, from the GUI entry point to the
// process exit code.
#pragma once

#include "platform/platform.h"

// Internet Explorer 8 was installed at the start: nothing was run or written.
inline constexpr int kExitAlreadyInstalled = -1;
// Every other completed run, whatever the setup program did.
inline constexpr int kExitCompleted = 0;
// The run stopped where memory ran out; nothing after that point was done.
inline constexpr int kExitOutOfMemory = platform::kErrorNotEnoughMemory;

// Called once by the start-up with the command-line tail.
int wWinMain(platform::Instance instance, platform::Instance previous,
             const char16_t* commandLineTail, int showCommand);
