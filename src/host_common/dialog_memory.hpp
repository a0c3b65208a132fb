// What the dialog remembers between openings, kept by GIMP as a global parasite (so across sessions).
#pragma once

#include <string>
#include <string_view>

#include "host_common/preview_scale.hpp"

namespace orvex {

inline constexpr const char* kDialogMemoryParasite = "plugin-orvex-dialog";

struct DialogMemory {
  int width = 0;  // 0: never stored, the dialog's natural size
  int height = 0;
  std::optional<PreviewScale> zoom;  // none: the whole layer fitted into the preview
};

std::string format_dialog_memory(const DialogMemory& memory);

// A text that is not one this plug-in stored gives the natural size and the fitted preview; a text
// stored before the zoom was kept gives its size and the fitted preview.
DialogMemory parse_dialog_memory(std::string_view text);

}  // namespace orvex
