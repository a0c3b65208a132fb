#pragma once

#include <libgimp/gimp.h>

namespace orvex {

// Shows the settings dialog bound to the global settings; true when confirmed with OK.
bool show_dialog(GimpDrawable* drawable);

}  // namespace orvex
