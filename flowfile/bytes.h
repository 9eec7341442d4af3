// The flow file's names for the little-endian helpers of platform/bytes.h,
// so that format code reads cpl::getI32 like the rest of the namespace.
#pragma once

#include "platform/bytes.h"

namespace cpl {

using platform::getF64;
using platform::getI16;
using platform::getI32;
using platform::getU16;
using platform::getU32;
using platform::getU64;
using platform::putF64;
using platform::putI16;
using platform::putI32;
using platform::putU16;
using platform::putU32;
using platform::putU64;

}  // namespace cpl
