// What the update check needs of the window that runs it: somewhere to show the settings page's
// messages. The main window implements it with message boxes (CWindowUpdateCheck); tests
// implement it with a list. Keeps the check free of widgets.
#pragma once

#include <string>

namespace varnow {

class IUpdateOwner {
 public:
  virtual ~IUpdateOwner() = default;
  // A "Varnow Message" from the settings page, as plain text, in page order. Called on the
  // thread that runs the check, which is never the GUI thread's business to wait for: the
  // implementation must not block it on the user.
  virtual void ShowUpdateMessage(const std::string& text) = 0;
};

}  // namespace varnow
