/* A test-only plug-in: calls plugin-orvex non-interactively with its defaults while a
 * progress of its own is installed, so the host routes plugin-orvex's progress texts here.
 * Hands back the status of the call and every text the progress was started with or set
 * to, one per line, exactly as they arrived (translated or not). Needs the full GIMP:
 * gimp-console drops every progress call unseen. */
#include <libgimp/gimp.h>

#define PROCEDURE_NAME "orvex-test-progress-texts"

static void query (void);
static void run (const gchar *name, gint nparams, const GimpParam *param,
                 gint *nreturn_vals, GimpParam **return_vals);

const GimpPlugInInfo PLUG_IN_INFO = { NULL, NULL, query, run };

MAIN ()

static void
query (void)
{
  static const GimpParamDef args[] = {
    { GIMP_PDB_INT32, "run-mode", "The run mode" },
    { GIMP_PDB_IMAGE, "image", "Input image" },
    { GIMP_PDB_DRAWABLE, "drawable", "Input drawable" },
  };
  static const GimpParamDef results[] = {
    { GIMP_PDB_INT32, "status", "The status plugin-orvex returned (GimpPDBStatusType)" },
    { GIMP_PDB_STRING, "texts", "The progress texts plugin-orvex set, one per line" },
  };
  gimp_install_procedure (PROCEDURE_NAME, "Records the progress texts of plugin-orvex",
                          "For end-to-end tests only", "Orvex developers",
                          "Orvex developers", "2024", NULL, "RGB*, GRAY*",
                          GIMP_PLUGIN, G_N_ELEMENTS (args), G_N_ELEMENTS (results),
                          args, results);
}

static void
record_text (const gchar *message, gpointer texts)
{
  g_string_append_printf (texts, "%s\n", message ? message : "(null)");
}

static void
record_start (const gchar *message, gboolean cancelable G_GNUC_UNUSED, gpointer texts)
{
  record_text (message, texts);
}

static void
ignore_end (gpointer texts G_GNUC_UNUSED)
{
}

static void
ignore_value (gdouble percentage G_GNUC_UNUSED, gpointer texts G_GNUC_UNUSED)
{
}

static void
run (const gchar *name G_GNUC_UNUSED, gint nparams G_GNUC_UNUSED, const GimpParam *param,
     gint *nreturn_vals, GimpParam **return_vals)
{
  static GimpParam   values[3];
  GimpProgressVtable vtable = { 0 };
  GString           *texts = g_string_new (NULL);
  GimpParam         *reply;
  gint               nreply = 0;

  *nreturn_vals = 3;
  *return_vals = values;
  values[0].type = GIMP_PDB_STATUS;
  values[0].data.d_status = GIMP_PDB_SUCCESS;
  values[1].type = GIMP_PDB_INT32;
  values[2].type = GIMP_PDB_STRING;

  vtable.start = record_start;
  vtable.end = ignore_end;
  vtable.set_text = record_text;
  vtable.set_value = ignore_value;
  /* Stays installed until this plug-in ends, when the host drops it: uninstalling it before
   * returning loses this procedure's return values in GIMP 2.10. */
  if (! gimp_progress_install_vtable (&vtable, texts))
    {
      values[0].data.d_status = GIMP_PDB_EXECUTION_ERROR;
      values[2].data.d_string = "";
      return;
    }

  reply = gimp_run_procedure ("plugin-orvex", &nreply,
                              GIMP_PDB_INT32, GIMP_RUN_NONINTERACTIVE,
                              GIMP_PDB_IMAGE, param[1].data.d_image,
                              GIMP_PDB_DRAWABLE, param[2].data.d_drawable,
                              GIMP_PDB_FLOAT, 50.0,
                              GIMP_PDB_INT32, 250,
                              GIMP_PDB_INT32, 0,
                              GIMP_PDB_FLOAT, 0.0,
                              GIMP_PDB_INT32, 2,
                              GIMP_PDB_FLOAT, 100.0,
                              GIMP_PDB_FLOAT, 7.0,
                              GIMP_PDB_FLOAT, 0.0,
                              GIMP_PDB_FLOAT, 7.0,
                              GIMP_PDB_FLOAT, 25.0,
                              GIMP_PDB_FLOAT, 25.0,
                              GIMP_PDB_FLOAT, 50.0,
                              GIMP_PDB_FLOAT, 20.0,
                              GIMP_PDB_END);
  values[1].data.d_int32 = nreply > 0 ? (gint32) reply[0].data.d_status : -1;
  gimp_destroy_params (reply, nreply);
  values[2].data.d_string = g_string_free (texts, FALSE);
}
