// The engine's interrupt check for calls made from Python, with the GIL held:
//
//  - a pending signal (Ctrl-C) runs its Python handler, and the exception the
//    handler raises (KeyboardInterrupt) abandons the computation and reaches
//    the caller;
//  - every few milliseconds the GIL is let go for a moment, so that other
//    Python threads (a timer, a notebook's heartbeat) are not starved
//    during a long analysis. A thread waiting for the GIL asks for it only
//    after waiting the interpreter's switch interval (5 ms) in vain; then
//    letting the GIL go hands it over. Letting it go more often than that
//    wakes the waiter before it asks, we take the GIL straight back, and the
//    waiter can wait for minutes: hence a stretch of several intervals.
//    The engine works on its own copies by then; arguments it still reads
//    (an RDKit molecule, for one) must not be changed by another thread
//    meanwhile, as for any call.
//
// Off the main thread the check finds no signal and lets the work go on.
#pragma once

#include <pybind11/pybind11.h>

#include <chrono>

#include "core/interrupt.h"

namespace tessarin::bindings {

// How long the engine keeps the GIL at a stretch: four times the
// interpreter's default switch interval (see above).
inline constexpr std::chrono::milliseconds kGilSwitchInterval{20};

inline core::InterruptCheck python_signal_check() {
  using Clock = std::chrono::steady_clock;
  return [last_switch = Clock::now()]() mutable {
    if (PyErr_CheckSignals() != 0) throw pybind11::error_already_set();
    if (Clock::now() - last_switch < kGilSwitchInterval) return;
    { pybind11::gil_scoped_release let_others_run; }
    last_switch = Clock::now();
    if (PyErr_CheckSignals() != 0) throw pybind11::error_already_set();  // sent meanwhile
  };
}

}  // namespace tessarin::bindings
