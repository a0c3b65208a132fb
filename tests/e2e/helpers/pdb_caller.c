/* A test-only plug-in: calls plugin-orvex through the procedural database with only the
 * first COUNT of its sixteen parameters (the defaults, with the given run mode), which
 * Script-Fu itself would refuse to send, and hands back the status and the host's error
 * text that the call ended with. */
#include <libgimp/gimp.h>

#define PROCEDURE_NAME "orvex-test-call-truncated"

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
    { GIMP_PDB_INT32, "orvex-run-mode", "The run mode to call plugin-orvex with" },
    { GIMP_PDB_INT32, "count", "How many of plugin-orvex's parameters to pass (0 - 16)" },
  };
  static const GimpParamDef results[] = {
    { GIMP_PDB_INT32, "status", "The status plugin-orvex returned (GimpPDBStatusType)" },
    { GIMP_PDB_STRING, "error", "The host's error text for the call, or \"\"" },
  };
  gimp_install_procedure (PROCEDURE_NAME, "Calls plugin-orvex with fewer parameters",
                          "For end-to-end tests only", "Orvex developers",
                          "Orvex developers", "2024", NULL, "RGB*, GRAY*, INDEXED*",
                          GIMP_PLUGIN, G_N_ELEMENTS (args), G_N_ELEMENTS (results),
                          args, results);
}

static void
run (const gchar *name G_GNUC_UNUSED, gint nparams G_GNUC_UNUSED, const GimpParam *param,
     gint *nreturn_vals, GimpParam **return_vals)
{
  static GimpParam values[3];
  GimpParam        call[16];
  GimpParam       *reply;
  gint             nreply = 0;
  gint             count;
  const gchar     *error;

  *nreturn_vals = 3;
  *return_vals = values;
  values[0].type = GIMP_PDB_STATUS;
  values[0].data.d_status = GIMP_PDB_SUCCESS;
  values[1].type = GIMP_PDB_INT32;
  values[2].type = GIMP_PDB_STRING;
  values[2].data.d_string = "";

  count = CLAMP (param[4].data.d_int32, 0, 16);

  /* The defaults, in the order of the procedure's parameter table. */
  call[0].type = GIMP_PDB_INT32;    call[0].data.d_int32 = param[3].data.d_int32;
  call[1].type = GIMP_PDB_IMAGE;    call[1].data.d_image = param[1].data.d_image;
  call[2].type = GIMP_PDB_DRAWABLE; call[2].data.d_drawable = param[2].data.d_drawable;
  call[3].type = GIMP_PDB_FLOAT;    call[3].data.d_float = 50;
  call[4].type = GIMP_PDB_INT32;    call[4].data.d_int32 = 250;
  call[5].type = GIMP_PDB_INT32;    call[5].data.d_int32 = 0;
  call[6].type = GIMP_PDB_FLOAT;    call[6].data.d_float = 0;
  call[7].type = GIMP_PDB_INT32;    call[7].data.d_int32 = 2;
  call[8].type = GIMP_PDB_FLOAT;    call[8].data.d_float = 100;
  call[9].type = GIMP_PDB_FLOAT;    call[9].data.d_float = 7;
  call[10].type = GIMP_PDB_FLOAT;   call[10].data.d_float = 0;
  call[11].type = GIMP_PDB_FLOAT;   call[11].data.d_float = 7;
  call[12].type = GIMP_PDB_FLOAT;   call[12].data.d_float = 25;
  call[13].type = GIMP_PDB_FLOAT;   call[13].data.d_float = 25;
  call[14].type = GIMP_PDB_FLOAT;   call[14].data.d_float = 50;
  call[15].type = GIMP_PDB_FLOAT;   call[15].data.d_float = 20;

  reply = gimp_run_procedure2 ("plugin-orvex", &nreply, count, call);
  values[1].data.d_int32 = nreply > 0 ? (gint32) reply[0].data.d_status : -1;
  error = gimp_get_pdb_error ();
  values[2].data.d_string = g_strdup (error ? error : "");
  gimp_destroy_params (reply, nreply);
}
