#pragma once

#include <string>

#include "utility/String.h"

namespace tf {

// A named deferred action of the view with one argument; the window performs it.
struct task_t {
    std::string name;
    String param;
    bool done = false;
};

} // namespace tf
