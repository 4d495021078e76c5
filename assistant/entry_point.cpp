// The executable's entry point. The image carries no C runtime, so this is
// the first of the assistant's code to run, and the last: StartUp ends the
// process.
#include "assistant/startup.h"

extern "C" void __stdcall AssistantEntry() { assistant::StartUp(); }
