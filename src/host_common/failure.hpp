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

// A call made wrongly (GIMP's calling error rather than an execution error).
class CallingFailure : public Failure {
 public:
  using Failure::Failure;
};

// "not enough memory for a W × H layer", translated.
std::string memory_failure(std::int64_t width, std::int64_t height);

// A run mode outside GIMP's three: a calling error, never a render with some default.
CallingFailure run_mode_failure(long long run_mode);

// The selection was saved as a channel but could not be loaded back: the channel is kept.
Failure selection_kept_failure(const char* channel_name);

}  // namespace orvex
