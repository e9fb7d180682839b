#pragma once

#include <string>

namespace vistrelle::dispatch {

// A task posted to a queue whose threads have stopped can never run: a bug in
// the shutdown order.  Debug builds stop the process here with a message; other
// builds write one line to the standard error and the caller drops the task.
void reportPostAfterStop(const std::string& queueLabel);

}  // namespace vistrelle::dispatch
