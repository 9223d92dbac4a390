#include "bindings/common/pyutil.hpp"
#include "bindings/runwright/runwright.hpp"

namespace tarvo::py::runwright {

void register_integrations(nb::module_&) {}

}  // namespace tarvo::py::runwright
