#include "assistant/run_sequence.h"

#include "assistant/argument_string.h"
#include "assistant/browser_registry.h"
#include "assistant/setup_launcher.h"

int wWinMain(platform::Instance, platform::Instance,
             const char16_t* commandLineTail, int) {
  using namespace assistant;

  if (IsIE8Installed()) {
    return kExitAlreadyInstalled;
  }

  Launch launched;
  {
    ArgumentString arguments;
    if (!arguments.Assign(commandLineTail)) {
      return kExitOutOfMemory;
    }
    launched = LaunchSetup(arguments);
  }  // the argument text is released here, before the second probe

  if (launched == Launch::kOutOfMemory) {
    return kExitOutOfMemory;
  }
  if (launched == Launch::kNotStarted || !IsIE8Installed()) {
    return kExitCompleted;
  }
  if (RegisterWelcome() == Welcome::kOutOfMemory) {
    return kExitOutOfMemory;
  }
  return kExitCompleted;
}
