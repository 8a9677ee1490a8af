#include "varnow/ui/HeadlessPrompts.h"

#include <cstdio>
#include <cstdlib>

#include "platform/tracelog.h"
#include "varnow/settings/Settings.h"

namespace varnow {

namespace {
bool IsSet(const char* name) {
  const char* value = std::getenv(name);
  return value && *value;
}
}  // namespace

bool DisplayAvailable() { return IsSet("DISPLAY") || IsSet("WAYLAND_DISPLAY") || IsSet("QT_QPA_PLATFORM"); }

void ReportWithoutWindow(const std::string& caption, const std::string& text) {
  VN_TRACE("%s: %s", caption.c_str(), text.c_str());
  // Every line already starts with the program's name: a caption that is only that name again
  // ("Varnow") would say it twice.
  if (caption.empty() || caption == "Varnow") std::fprintf(stderr, "varnow: %s\n", text.c_str());
  else std::fprintf(stderr, "varnow: %s: %s\n", caption.c_str(), text.c_str());
}

bool NeverAskMissingDirectory() {
  return GetProfileInt(kSettingsSection, setting::kDontAskNonExistantDir.name,
                       setting::kDontAskNonExistantDir.defaultValue) == 1;
}

void StoreDefaultClusterSize(const std::string& root) {
  WriteProfileIntAsText(kFixedClusterSizesSection, root, kDefaultClusterSize);
  VN_TRACE("Cluster size of %s taken as %d", root.c_str(), kDefaultClusterSize);
}

bool CHeadlessPrompts::AskScanMissingDirectory() {
  if (!NeverAskMissingDirectory())
    ReportWithoutWindow(kMissingDirectoryCaption, std::string(kMissingDirectoryText) + " -> Scan");
  return true;
}

void CHeadlessPrompts::AskClusterSize(const std::string& root) { StoreDefaultClusterSize(root); }

void CHeadlessPrompts::ShowMessage(const std::string& text, const std::string& caption) {
  ReportWithoutWindow(caption, text);
}

void CHeadlessPrompts::ShowAlert(const CAlertNotice& alert) { ReportWithoutWindow(kAlertCaption, alert.message); }

}  // namespace varnow
