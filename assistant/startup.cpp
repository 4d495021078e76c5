#include "assistant/startup.h"

#include "assistant/command_line_tail.h"
#include "assistant/run_sequence.h"
#include "platform/platform.h"
#include "platform/system_library.h"

namespace assistant {

void StartUp() {
  // Before anything can load a library.
  platform::HardenProcess();
  const char16_t* tail = CommandLineTail(platform::GetCommandLineW());

  platform::StartupInfo startup = {};
  startup.cb = platform::kStartupInfoSize;
  platform::GetStartupInfoW(&startup);
  const int show = (startup.flags & platform::kStartfUseShowWindow) != 0
                       ? startup.showWindow
                       : platform::kSwShowDefault;

  const int result = wWinMain(platform::ImageBase(), 0, tail, show);
  platform::ExitProcess(static_cast<unsigned>(result));
}

}  // namespace assistant
