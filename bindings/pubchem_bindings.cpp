// PubChem lookups.
#include "registry.h"

namespace tessarin::bindings {

void register_pubchem(pybind11::module_& m) { (void)m; }

}  // namespace tessarin::bindings
