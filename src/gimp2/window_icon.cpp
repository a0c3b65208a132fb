#include "gimp2/window_icon.hpp"

#include "window_icon_stream.hpp"

namespace orvex {

void set_window_icon(GtkWindow* window) {
  // The stream is static, so the pixbuf may point into it instead of copying.
  GdkPixbuf* icon = gdk_pixbuf_new_from_inline(-1, kWindowIconStream, FALSE, nullptr);
  if (!icon) return;
  gtk_window_set_icon(window, icon);
  g_object_unref(icon);
}

}  // namespace orvex
