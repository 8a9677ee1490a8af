// The tracker's usage: its --help text and its manual page.
#pragma once

#include "platform/usage.h"

namespace varnow {

const platform::CUsage& CommandLineUsage();

}  // namespace varnow
