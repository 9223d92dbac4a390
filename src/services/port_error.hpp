// The failure of a port's call into the outside world (the browser, the AI
// provider). what() is the failure's own text, so the core can log it; the
// bindings keep the original failure and raise it again if the error leaves
// the core unhandled.
#pragma once
#include <stdexcept>

namespace tarvo {

class PortError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace tarvo
