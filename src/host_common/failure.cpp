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

}  // namespace orvex
