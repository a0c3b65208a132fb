/* A test-only plug-in: stores any bytes as plugin-orvex's last-values record, as an older
 * version or a damaged store could have left them, so that a following RUN-WITH-LAST-VALS
 * call in the same GIMP process loads them. plugin-orvex itself only ever stores its own
 * 96-byte record. */
#include <libgimp/gimp.h>

#define PROCEDURE_NAME "orvex-test-store-last-values"

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
    { GIMP_PDB_INT32, "size", "Number of bytes" },
    { GIMP_PDB_INT8ARRAY, "bytes", "The record to store under \"plugin-orvex\"" },
  };
  static const GimpParamDef results[] = {
    { GIMP_PDB_INT32, "stored-size", "What the host holds under \"plugin-orvex\" afterwards" },
  };
  gimp_install_procedure (PROCEDURE_NAME, "Stores bytes as plugin-orvex's last values",
                          "For end-to-end tests only", "Orvex developers",
                          "Orvex developers", "2024", NULL, NULL,
                          GIMP_PLUGIN, G_N_ELEMENTS (args), G_N_ELEMENTS (results),
                          args, results);
}

static void
run (const gchar *name G_GNUC_UNUSED, gint nparams, const GimpParam *param,
     gint *nreturn_vals, GimpParam **return_vals)
{
  static GimpParam values[2];

  *nreturn_vals = 2;
  *return_vals = values;
  values[0].type = GIMP_PDB_STATUS;
  values[0].data.d_status = GIMP_PDB_CALLING_ERROR;
  values[1].type = GIMP_PDB_INT32;
  values[1].data.d_int32 = -1;

  if (nparams != 3 || param[1].data.d_int32 < 1)
    return;
  if (! gimp_procedural_db_set_data ("plugin-orvex", param[2].data.d_int8array,
                                     (guint32) param[1].data.d_int32))
    {
      values[0].data.d_status = GIMP_PDB_EXECUTION_ERROR;
      return;
    }
  values[0].data.d_status = GIMP_PDB_SUCCESS;
  values[1].data.d_int32 = gimp_procedural_db_get_data_size ("plugin-orvex");
}
