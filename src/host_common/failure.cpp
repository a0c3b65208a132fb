#include "host_common/failure.hpp"

#include <cstdio>

#include "host_common/i18n.hpp"

namespace orvex {

std::string memory_failure(std::int64_t width, std::int64_t height) {
  char text[256];
  std::snprintf(text, sizeof text, _("not enough memory for a %lld × %lld layer"),
                static_cast<long long>(width), static_cast<long long>(height));
  return text;
}

CallingFailure run_mode_failure(long long run_mode) {
  char text[256];
  std::snprintf(text, sizeof text,
                _("run mode %lld is not one of 0 (interactive), 1 (non-interactive) and 2 (last values)"), run_mode);
  return CallingFailure(text);
}

Failure selection_kept_failure(const char* channel_name) {
  char text[512];
  std::snprintf(text, sizeof text, _("the selection could not be loaded back; it is kept in the channel \"%s\""),
                channel_name ? channel_name : "");
  return Failure(text);
}

}  // namespace orvex
