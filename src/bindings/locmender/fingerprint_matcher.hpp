// Binds the fingerprint healing rules (core/healing/fingerprint) into the
// locmender module as FingerprintMatcher.
#pragma once
#include <nanobind/nanobind.h>

namespace nb = nanobind;

namespace tarvo::py {
void bind_fingerprint_matcher(nb::module_& m);
}
