// The scheduler reckons time in the shared automation-date clock of platform/oledate.h.
#pragma once

#include "platform/oledate.h"

namespace orvsched {

using platform::AddSeconds;
using platform::DateParts;
using platform::FromOleDate;
using platform::kSecondsPerDay;
using platform::MakeOleTime;
using platform::OleTime;
using platform::SplitOleTime;
using platform::ToOleDate;

}  // namespace orvsched
