// The print program's usage: its --help text and its manual page.
#pragma once

#include "platform/usage.h"

namespace zizeruv {

const platform::CUsage& PrintUsage();

}  // namespace zizeruv
