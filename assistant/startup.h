// The start-up that surrounds wWinMain: it takes the command-line tail, calls
// wWinMain once and ends the process with its result.
#pragma once

namespace assistant {

void StartUp();

}  // namespace assistant
