// Atom layout and orbital-node placement.
#include "registry.h"

namespace tessarin::bindings {

void register_layout(pybind11::module_& m) { (void)m; }

}  // namespace tessarin::bindings
