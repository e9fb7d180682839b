#pragma once

#include <functional>

namespace vistrelle::dispatch {

// A unit of work for a queue.
using Task = std::function<void()>;

}  // namespace vistrelle::dispatch
