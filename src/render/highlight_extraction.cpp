#include "render/highlight_extraction.hpp"

namespace orvex {

void extract_highlights(GimpDrawable*, GimpPreview*, int, std::int64_t, std::int64_t, int,
                        ChannelPlanes&) {}

}  // namespace orvex
