#include "varnow/alerts/AlertChecks.h"

#include <span>
#include <vector>

#include "platform/asciicase.h"
#include "platform/guarded.h"
#include "platform/process.h"
#include "platform/tracelog.h"
#include "varnow/alerts/CommandLine.h"
#include "varnow/report/FormatSize.h"
#include "varnow/report/FullProjection.h"
#include "varnow/scan/DirData.h"
#include "varnow/scan/Prompts.h"

namespace varnow {
namespace {

struct Substitution {
  std::string_view placeholder;
  std::string_view value;
};

// One left-to-right pass: a value, once inserted, is never searched for any placeholder, so a
// directory named "$MSG$" stays what it is and the pass always ends.
std::string Substitute(std::string_view text, std::span<const Substitution> substitutions) {
  std::string result;
  result.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const Substitution* hit = nullptr;
    for (const Substitution& s : substitutions) {
      if (!s.placeholder.empty() && platform::StartsWithIgnoringCase(text.substr(i), s.placeholder)) {
        hit = &s;
        break;
      }
    }
    if (hit) {
      result += hit->value;
      i += hit->placeholder.size();
    } else {
      result += text[i++];
    }
  }
  return result;
}

// Shows the message through the notification command, or in the box when there is none or it
// could not be started.
void Notify(CAlertRun& run, EAlertKind kind, const std::string& dir, const std::string& sizeText,
            std::string message) {
  if (!run.notifyCommand.empty()) {
    if (RunNotifyCommand(run.notifyCommand, dir, sizeText, message)) return;
    message += " [This message is shown because " + run.notifyCommand + " could not be started]";
  }
  if (run.prompts) run.prompts->ShowAlert(CAlertNotice{dir, kind, message});
}

// The growth rule shared by the size and percent checks: the total's entry fires when its
// current size is above the threshold computed from its last saved size. Thresholds are
// computed in 128 bits so that no saved size or setting can overflow them. limitText is the
// allowed growth as the message shows it.
template <typename Threshold>
bool GrowthCheck(CAlertRun& run, EAlertKind kind, const char* checkName, const std::string& setting,
                 Threshold threshold, const std::string& limitText) {
  if (!run.dd) return false;
  for (const CDirInfo& entry : run.dd->m_entries) {
    VN_TRACE("Doing %s for %s with %s", checkName, entry.name.c_str(), setting.c_str());
    const std::int64_t current = entry.sizes[0];
    if (current == -1 || entry.name != kTotalUsed) continue;
    if (entry.sizes[1] == kNoSize) {
      // Nothing to grow from: a first run must not report growth since a scan never saved.
      const std::string text = "no saved scan of " + run.scanDir + " to compare with; save one with /SAVE";
      VN_TRACE("%s: %s", checkName, text.c_str());
      if (run.prompts) run.prompts->ShowMessage(text, "Varnow");
      return false;
    }
    if (current <= threshold(static_cast<__int128>(entry.sizes[1]))) continue;
    const std::string sizeText = FormatSize(current, true, run.displayUnit);
    Notify(run, kind, run.scanDir, sizeText,
           "The disk space taken up by " + run.scanDir + " increased by more than " + limitText +
               " since the last saved scan.  (Current size: " + sizeText + ")");
    return true;  // only one entry bears the total's name
  }
  return false;
}

}  // namespace

std::string ReplaceAll(std::string_view text, std::string_view placeholder,
                       std::string_view value) {
  const Substitution substitution{placeholder, value};
  return Substitute(text, std::span(&substitution, 1));
}

bool RunNotifyCommand(std::string& command, const std::string& dir, const std::string& size,
                      const std::string& message) {
  const Substitution substitutions[] = {{"$SIZE$", size}, {"$DIR$", dir}, {"$MSG$", message}};
  std::vector<std::string> arguments;
  // An empty argument ("") is one the program expects: it is kept.
  for (const CCommandToken& token : SplitCommandLine(command, true))
    arguments.push_back(Substitute(token.text, substitutions));
  command = JoinCommandLine(arguments);
  VN_TRACE("Notify: %s", command.c_str());
  // Detached, without a shell: no argument is ever read as shell syntax.
  return platform::StartDetached(arguments);
}

bool AlertSizeCheck(CAlertRun& run) {
  return platform::Guarded("AlertSizeCheck", [&] {
    return GrowthCheck(
        run, EAlertKind::kSize, "AlertSizeCheck", std::to_string(run.alertSize) + " size",
        [&](__int128 saved) { return saved + run.alertSize; },
        FormatSize(run.alertSize, true, run.displayUnit));
  }, false);
}

bool AlertPercentCheck(CAlertRun& run) {
  return platform::Guarded("AlertPercentCheck", [&] {
    return GrowthCheck(
        run, EAlertKind::kPercent, "AlertPercentCheck", std::to_string(run.alertPercent) + "%",
        [&](__int128 saved) { return saved + saved * run.alertPercent / 100; },
        std::to_string(run.alertPercent) + "%");
  }, false);
}

bool FreeAlertCheck(CAlertRun& run) {
  return platform::Guarded("FreeAlertCheck", [&] {
    std::uint64_t freeBytes = 0;
    if (!run.getFreeSpace || !run.getFreeSpace(run.scanDir, freeBytes)) {
      VN_TRACE("Failed to ORVGetFreeSpace for %s", run.scanDir.c_str());
      return false;
    }
    VN_TRACE("Doing FreeAlertCheck for %s", run.scanDir.c_str());
    const auto free = static_cast<std::int64_t>(freeBytes);
    if (free >= run.freeAlert) return false;
    const std::string freeText = FormatSize(free, true, run.displayUnit);
    Notify(run, EAlertKind::kFreeSpace, run.scanDir, freeText,
           "Free disk space on " + run.scanDir + " has dropped below " +
               FormatSize(run.freeAlert, true, run.displayUnit) +
               " (Current free space: " + freeText + ")");
    return true;
  }, false);
}

bool FullAlertCheck(CAlertRun& run) {
  return platform::Guarded("FullAlertCheck", [&] {
    if (!run.dd) return false;
    const CFullProjection projection = ProjectDiskFull(*run.dd);
    VN_TRACE("Doing FullAlertCheck for %s with %d days", run.scanDir.c_str(), run.fullAlertDays);
    if (projection.outlook != CFullProjection::Fills) return false;
    const std::time_t now = run.now != 0 ? run.now : std::time(nullptr);
    if (projection.fullAt - now >= static_cast<std::time_t>(run.fullAlertDays) * 86400) return false;
    const std::string freeText = FormatSize(projection.freeNow, true, run.displayUnit);
    Notify(run, EAlertKind::kDiskFull, run.scanDir, freeText,
           ProjectionText(projection, run.scanDir) + ", less than " + CountText(run.fullAlertDays, "day", "days") +
               " from now.  (Current free space: " + freeText + ")");
    return true;
  }, false);
}

bool RunAlertChecks(const CRunFlags& flags, CAlertRun& run) {
  bool fired = false;
  // Every check that was asked for runs, even after one has fired.
  if (flags.alertSize) fired = AlertSizeCheck(run) || fired;
  if (flags.alertPercent) fired = AlertPercentCheck(run) || fired;
  if (flags.freeAlert) fired = FreeAlertCheck(run) || fired;
  if (flags.fullAlert) fired = FullAlertCheck(run) || fired;
  return fired;
}

}  // namespace varnow
