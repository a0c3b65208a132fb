#pragma once

#include <gtk/gtk.h>

namespace orvex {

// Gives the window the plug-in's icon; a stream that fails to decode leaves it without one.
void set_window_icon(GtkWindow* window);

}  // namespace orvex
