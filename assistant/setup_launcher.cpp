#include "assistant/setup_launcher.h"

#include "assistant/bounded_string.h"
#include "assistant/scoped_handle.h"
#include "platform/platform.h"

namespace assistant {

namespace {

bool HoldsSpace(const char16_t* text) {
  for (; *text != 0; ++text) {
    if (*text == u' ') {
      return true;
    }
  }
  return false;
}

}  // namespace

std::size_t SetupCommandLineUnits(const char16_t* setupPath,
                                  std::size_t argumentLength) {
  std::size_t units = TextLength(setupPath) + 1;
  if (HoldsSpace(setupPath)) {
    units += 2;
  }
  if (argumentLength != 0) {
    units += 1 + argumentLength;
  }
  return units;
}

void BuildSetupCommandLine(const char16_t* setupPath,
                           const ArgumentString& arguments,
                           char16_t* commandLine, std::size_t capacity) {
  if (HoldsSpace(setupPath)) {
    FormatBounded(commandLine, capacity, u"\"%s\"", {setupPath});
  } else {
    CopyBounded(commandLine, capacity, setupPath);
  }
  if (arguments.Length() != 0) {
    AppendBounded(commandLine, capacity, u" ");
    AppendBounded(commandLine, capacity, arguments.Text());
  }
}

bool FormSetupPath(char16_t* setupPath) {
  const platform::Dword length = platform::GetModuleFileNameW(
      0, setupPath, static_cast<platform::Dword>(platform::kMaxPath));
  // A length that fills the buffer means the path was cut.
  return length != 0 && length < platform::kMaxPath &&
         platform::PathRemoveFileSpecW(setupPath) &&
         platform::PathAppendW(setupPath, kSetupFileName);
}

Launch LaunchSetup(const ArgumentString& arguments) {
  char16_t setupPath[platform::kMaxPath] = {};
  platform::StartupInfo startup = {};
  platform::ProcessInformation process = {};

  if (!FormSetupPath(setupPath)) {
    return Launch::kNotStarted;
  }
  const std::size_t units =
      SetupCommandLineUnits(setupPath, arguments.Length());
  if (units > platform::kMaxCommandLine) {
    return Launch::kNotStarted;
  }

  // Declared before the buffer so that they are released after it, the
  // thread before the process.
  ScopedHandle processHandle;
  ScopedHandle threadHandle;
  HeapText commandLine = HeapText::Allocate(units);
  if (!commandLine) {
    return Launch::kOutOfMemory;
  }
  BuildSetupCommandLine(setupPath, arguments, commandLine.Units(), units);

  startup.cb = platform::kStartupInfoSize;
  // The setup program gets no standard handles: said outright, because
  // without this flag a system may hand it copies of the assistant's own
  // (Wine does, for a pipe of the caller's), and a child the setup program
  // leaves behind would then keep the caller's pipe open after the run.
  // With inheritance off, the three null handles are copied as they stand:
  // no handle of the assistant's is passed on.
  startup.flags = platform::kStartfUseStdHandles;
  if (!platform::CreateProcessW(setupPath, commandLine.Units(), nullptr,
                                nullptr, 0, 0, nullptr, nullptr, &startup,
                                &process)) {
    return Launch::kNotStarted;
  }
  processHandle.Reset(process.process);
  threadHandle.Reset(process.thread);
  platform::WaitForSingleObject(process.process, platform::kInfinite);
  return Launch::kStarted;
}

}  // namespace assistant
