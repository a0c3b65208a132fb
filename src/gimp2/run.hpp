#pragma once

#include <libgimp/gimp.h>

namespace orvex {

// The host's run callback for plugin-orvex.
void run(const gchar* name, gint nparams, const GimpParam* param, gint* nreturn_vals,
         GimpParam** return_vals);

}  // namespace orvex
