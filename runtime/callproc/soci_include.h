// SOCI through one door: its config header claims Boost, which we do not use.
#pragma once

#include <soci/soci-config.h>
#undef SOCI_HAVE_BOOST
#include <soci/soci.h>
