/* Test-only: preloaded into the plug-in (GIMP_PLUGIN_DEBUG_WRAPPER) to make one libgimp call
 * fail as GIMP itself would, when the file named by ORVEX_FAULTS names that call. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <libgimp/gimp.h>
#include <stdio.h>
#include <string.h>

static int failing(const char *call) {
  char named[64] = "";
  FILE *file = fopen(g_getenv("ORVEX_FAULTS") ? g_getenv("ORVEX_FAULTS") : "", "r");
  if (file) {
    if (!fgets(named, sizeof named, file)) named[0] = 0;
    fclose(file);
  }
  return strncmp(named, call, strlen(call)) == 0;
}

gint32 gimp_selection_save(gint32 image) {
  gint32 (*real)(gint32) = (gint32 (*)(gint32)) dlsym(RTLD_NEXT, "gimp_selection_save");
  return failing("selection-save") ? -1 : real(image);
}

gboolean gimp_drawable_merge_shadow(gint32 drawable, gboolean undo) {
  gboolean (*real)(gint32, gboolean) = (gboolean (*)(gint32, gboolean)) dlsym(RTLD_NEXT, "gimp_drawable_merge_shadow");
  return failing("merge-shadow") ? FALSE : real(drawable, undo);
}
