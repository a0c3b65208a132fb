// A GIMP 2.10 plug-in that only reads a drawable and writes it back, the way Orvex does (GEGL
// buffers in the drawable's own format, shadow buffer, one undo step): the floor that Orvex's
// whole call is measured against. For benchmarks only; never installed.
#include <libgimp/gimp.h>

#include "gegl_io/buffer_pixels.hpp"

namespace {

void query() {
  static GimpParamDef args[] = {{GIMP_PDB_INT32, const_cast<gchar*>("run-mode"), const_cast<gchar*>("run mode")},
                                {GIMP_PDB_IMAGE, const_cast<gchar*>("image"), const_cast<gchar*>("image")},
                                {GIMP_PDB_DRAWABLE, const_cast<gchar*>("drawable"), const_cast<gchar*>("drawable")}};
  gimp_install_procedure("orvex-copy-reference", "Reads a drawable and writes it back", "For benchmarks only",
                         "Orvex developers", "Orvex developers", "2026", nullptr, "RGB*, GRAY*", GIMP_PLUGIN, 3, 0,
                         args, nullptr);
}

void run(const gchar*, gint, const GimpParam* param, gint* nreturn_vals, GimpParam** return_vals) {
  static GimpParam status[1];
  orvex::init_gegl_for_buffers();
  const gint32 drawable = param[2].data.d_drawable;
  const gint width = gimp_drawable_width(drawable), height = gimp_drawable_height(drawable);
  const orvex::TransferFormat format = orvex::transfer_format(gimp_drawable_get_format(drawable), width, height);
  GeglBuffer* buffer = gimp_drawable_get_buffer(drawable);
  const orvex::PixelBuffer pixels = orvex::read_pixels(buffer, {0, 0, width, height}, format);
  g_object_unref(buffer);
  const gint32 image = gimp_item_get_image(drawable);
  gimp_image_undo_group_start(image);
  GeglBuffer* shadow = gimp_drawable_get_shadow_buffer(drawable);
  orvex::write_pixels(shadow, {0, 0, width, height}, format, pixels.view());
  g_object_unref(shadow);
  gimp_drawable_merge_shadow(drawable, TRUE);
  gimp_drawable_update(drawable, 0, 0, width, height);
  gimp_image_undo_group_end(image);
  status[0].type = GIMP_PDB_STATUS;
  status[0].data.d_status = GIMP_PDB_SUCCESS;
  *nreturn_vals = 1;
  *return_vals = status;
}

}  // namespace

extern "C" {
const GimpPlugInInfo PLUG_IN_INFO = {nullptr, nullptr, query, run};
}

MAIN()
