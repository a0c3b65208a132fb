#include <libgimp/gimp.h>

#include "gimp2/registration.hpp"
#include "gimp2/run.hpp"

extern "C" {
const GimpPlugInInfo PLUG_IN_INFO = {
    nullptr,
    nullptr,
    orvex::query,
    orvex::run,
};
}

MAIN()
