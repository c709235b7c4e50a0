// Soft bonds and fragment prediction.
#include "registry.h"

namespace tessarin::bindings {

void register_ms(pybind11::module_& m) { (void)m; }

}  // namespace tessarin::bindings
