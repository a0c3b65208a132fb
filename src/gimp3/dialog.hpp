#pragma once

#include <libgimp/gimp.h>

#include "engine/filter_settings.hpp"

namespace orvex {

// Shows the settings dialog with a live preview of the drawable; the controls edit
// `settings`. True when the user confirmed with OK.
bool show_dialog(GimpDrawable* drawable, ClampedSettings& settings);

}  // namespace orvex
