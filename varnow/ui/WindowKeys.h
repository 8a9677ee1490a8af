// The main window's keys: each command button has a shortcut, named in its tooltip, and Ctrl+Q
// closes the window as Exit does.
#pragma once

namespace varnow {

class CVarnowWindow;

void AddCommandKeys(CVarnowWindow& window);

}  // namespace varnow
