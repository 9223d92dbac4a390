// tarvolab_framework.hooks.hookrelay: the eight runner hooks.
#include <nanobind/nanobind.h>

namespace nb = nanobind;

NB_MODULE(hookrelay, m) {
  (void)m;
}
