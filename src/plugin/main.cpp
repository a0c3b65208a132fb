#include <libgimp/gimp.h>

#include "plugin/registration.hpp"
#include "plugin/run.hpp"

extern "C" {
const GimpPlugInInfo PLUG_IN_INFO = {
    nullptr,
    nullptr,
    orvex::query,
    orvex::run,
};
}

MAIN()
