// The cfb tool's usage: its --help text and its manual page.
#pragma once

#include "platform/usage.h"

namespace cfb {

const platform::CUsage& ToolUsage();

}  // namespace cfb
