#include "varnow/ui/WindowKeys.h"

#include <QKeySequence>
#include <QShortcut>
#include <QToolButton>

#include "varnow/ui/VarnowWindow.h"

namespace varnow {

namespace {

struct CCommandKey {
  CVarnowWindow::Button button;
  const char* key;  // portable text of the key sequence; nullptr: none
};

constexpr CCommandKey kCommandKeys[] = {
    {CVarnowWindow::kScan, "F5"},         {CVarnowWindow::kSaveData, "Ctrl+S"},
    {CVarnowWindow::kPrint, "Ctrl+P"},    {CVarnowWindow::kGrowth, "Ctrl+G"},
    {CVarnowWindow::kPreferences, "Ctrl+,"}, {CVarnowWindow::kAlerts, nullptr},
    {CVarnowWindow::kHelp, "F1"},         {CVarnowWindow::kExit, "Ctrl+Q"},
};

}  // namespace

void AddCommandKeys(CVarnowWindow& window) {
  for (const CCommandKey& command : kCommandKeys) {
    QToolButton* button = window.CommandButton(command.button);
    if (!button || !command.key) continue;
    const QKeySequence key(QString::fromLatin1(command.key), QKeySequence::PortableText);
    // A key does what a click on its button does, through the one connection the button has.
    auto* shortcut = new QShortcut(key, &window);
    QObject::connect(shortcut, &QShortcut::activated, button, &QToolButton::click);
    button->setToolTip(button->accessibleName() + " (" + key.toString(QKeySequence::NativeText) + ")");
  }
}

}  // namespace varnow
