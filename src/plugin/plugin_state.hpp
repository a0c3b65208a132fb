// State that lives for the whole plug-in process.
#pragma once

#include "plugin/filter_settings.hpp"

namespace orvex {

// The one settings record: filled by the run procedure, edited by the dialog, read by renders.
extern FilterSettings settings;

}  // namespace orvex
