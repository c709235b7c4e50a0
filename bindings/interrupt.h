// The engine's interrupt check for calls made from Python, with the GIL held:
//
//  - a pending signal (Ctrl-C) runs its Python handler, and the exception the
//    handler raises (KeyboardInterrupt) abandons the computation and reaches
//    the caller;
//  - every few milliseconds the GIL is let go for a moment, as the
//    interpreter does between bytecodes, so that other Python threads (a
//    timer, a notebook's heartbeat) are not starved during a long analysis.
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

// How long the engine keeps the GIL at a stretch: the interpreter's own
// default switch interval.
inline constexpr std::chrono::milliseconds kGilSwitchInterval{5};

inline core::InterruptCheck python_signal_check() {
  using Clock = std::chrono::steady_clock;
  return [last_switch = Clock::now()]() mutable {
    if (PyErr_CheckSignals() != 0) throw pybind11::error_already_set();
    if (Clock::now() - last_switch < kGilSwitchInterval) return;
    {
      pybind11::gil_scoped_release let_others_run;
    }
    last_switch = Clock::now();
    if (PyErr_CheckSignals() != 0) throw pybind11::error_already_set();  // sent meanwhile
  };
}

}  // namespace tessarin::bindings
