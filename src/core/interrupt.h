// A caller's way to stop a long computation. Long loops of the engine call
// the check between units of work (a layout iteration, a candidate bond, a
// fragment expansion); it returns to let the work go on, or throws to abandon
// it. The engine itself knows nothing of what stands behind the check (the
// Python host turns a pending Ctrl-C into KeyboardInterrupt this way).
//
// Everything the engine builds is owned by RAII objects, so an exception
// thrown by the check leaves no partial state behind.
#pragma once

#include <functional>

namespace tessarin::core {

using InterruptCheck = std::function<void()>;

// Calls `check` when one is set.
inline void poll(const InterruptCheck& check) {
  if (check) check();
}

}  // namespace tessarin::core
