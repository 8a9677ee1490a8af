// What the scan session reads of the object that owns it (the main window object): the settings
// that steer a scan, and the one notification it sends back. Questions and messages go through
// IPrompts instead.
#pragma once

#include "varnow/settings/Settings.h"

namespace varnow {

class IScanOwner {
 public:
  virtual ~IScanOwner() = default;

  // Settings the session reads (the owner's in-memory copies).
  virtual ClusterMode PreferredClusterSetting() const = 0;
  virtual int AutoSave() const = 0;
  virtual int SubDirSave() const = 0;

  // The current scan directory changed or was set again: refresh statistics and grid.
  virtual void RefreshView() = 0;
};

}  // namespace varnow
