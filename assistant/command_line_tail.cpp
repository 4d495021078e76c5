#include "assistant/command_line_tail.h"

namespace assistant {

const char16_t* CommandLineTail(const char16_t* commandLine) {
  if (commandLine == nullptr) {
    return u"";
  }
  const char16_t* unit = commandLine;
  bool quoted = false;
  while (*unit > u' ' || (*unit != 0 && quoted)) {
    if (*unit == u'"') {
      quoted = !quoted;
    }
    ++unit;
  }
  while (*unit != 0 && *unit <= u' ') {
    ++unit;
  }
  return unit;
}

}  // namespace assistant
