// Message catalogue of the plug-in.
#pragma once

#include <libintl.h>

#define ORVEX_TEXT_DOMAIN "gimp20-orvex"
#define _(text) gettext(text)
#define N_(text) (text)
