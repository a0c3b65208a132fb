// What the dialog remembers between openings, kept by GIMP as a global parasite (so across sessions).
#pragma once

#include <string>
#include <string_view>

namespace orvex {

inline constexpr const char* kDialogMemoryParasite = "plugin-orvex-dialog";

struct DialogMemory {
  int width = 0;  // 0: never stored, the dialog's natural size
  int height = 0;
};

std::string format_dialog_memory(const DialogMemory& memory);

// A text that is not one this plug-in stored gives the natural size.
DialogMemory parse_dialog_memory(std::string_view text);

}  // namespace orvex
