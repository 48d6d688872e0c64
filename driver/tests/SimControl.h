// Talking to a running corvimus-simdriver over its control lines.
#pragma once

#include <string>

#include "testing/ChildProcess.h"

namespace corvimus::testing {

// The answer to one control line: the lines up to and including the first that starts with "ok"
// or "error", joined with newlines ("" when the simulator said nothing in time).
inline std::string Command(ChildProcess& sim, const std::string& line, int timeoutMs = 10000) {
  if (!sim.WriteInput(line + "\n")) return "";
  std::string answer, next;
  while (sim.ReadLine(&next, timeoutMs)) {
    answer += (answer.empty() ? "" : "\n") + next;
    if (next.rfind("ok", 0) == 0 || next.rfind("error", 0) == 0) break;
  }
  return answer;
}

// The exit status, or -1 when the program still runs after timeoutMs.
inline int ExitCode(ChildProcess& child, int timeoutMs = 10000) {
  int code = -1;
  return child.Wait(&code, timeoutMs) ? code : -1;
}

}  // namespace corvimus::testing
