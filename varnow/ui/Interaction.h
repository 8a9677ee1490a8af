// How the tracker talks to its user: message boxes and questions when it can show windows;
// otherwise the text goes to standard error and the trace log, and a question takes its default
// answer, so that an automated run without a display never blocks.
#pragma once

#include <string>

class QWidget;

namespace varnow {

// True when a display is named: DISPLAY, WAYLAND_DISPLAY or QT_QPA_PLATFORM is set.
bool DisplayAvailable();
// True on the thread of a QApplication (not a bare QCoreApplication).
bool CanShowWindows();

enum class MessageIcon { Information, Exclamation };

// A modal message box with an OK button, or its text on standard error.
void ShowMessageBox(QWidget* parent, const std::string& text, const std::string& caption,
                    MessageIcon icon = MessageIcon::Exclamation);

// Writes what a message box or question would show, for runs without windows.
void ReportWithoutWindow(const std::string& caption, const std::string& text);

}  // namespace varnow
