#pragma once

#include <optional>
#include <string>

#include "platform/value/value.h"

namespace vistrelle::netlocal {

// The folder the application's resources live in: $VISTRELLE_RESOURCE_DIR,
// else the one built with the program (where the depth model's resource is
// found too).
std::string defaultResourceFolder();

// The executable base name of process `pid` (at most 255 characters of it)
// when its executable path (at most 4096 bytes of it) lies inside
// `resourceFolder`, i.e. contains the folder followed by "/"; else the empty
// text, also when the process is gone or not ours to inspect.
std::string processNameWithPid(int pid, const std::string& resourceFolder,
                               const std::string& procRoot = "/proc");

// {"ProcessName", "ProcessID"} of every process started from
// `resourceFolder`, highest process id first; none when the process table
// cannot be read or lists no process.
std::optional<Value::List> runningProcessesFrom(const std::string& resourceFolder,
                                                const std::string& procRoot = "/proc");

}  // namespace vistrelle::netlocal
