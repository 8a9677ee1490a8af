// The scheduler's usage: its --help text and its manual page.
#pragma once

#include "platform/usage.h"

namespace orvsched {

const platform::CUsage& ServerUsage();

}  // namespace orvsched
