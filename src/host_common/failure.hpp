// A call that cannot be carried out, and why, in words for the user.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace orvex {

// Thrown where a call must end with an execution error; what() is the translated reason
// that the host shows its caller.
class Failure : public std::runtime_error {
 public:
  explicit Failure(const std::string& reason) : std::runtime_error(reason) {}
};

// "not enough memory for a W × H layer", translated.
std::string memory_failure(std::int64_t width, std::int64_t height);

}  // namespace orvex
