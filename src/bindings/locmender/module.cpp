// tarvolab_framework.core.locmender: the AI locator self-healing manager.
#include <nanobind/nanobind.h>

namespace nb = nanobind;

NB_MODULE(locmender, m) {
  (void)m;
}
