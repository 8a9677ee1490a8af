// Writes pictures of the preferences, the cluster size dialog and the main window in the default
// display font, each at two sizes, to the folder given (default /tmp/prefs-shots), for a person
// to look at. Settings go to a temporary folder, never to the real home.
//   preferences_shots [FOLDER]
#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "varnow/settings/Settings.h"
#include "varnow/ui/ClusterSizeDialog.h"
#include "varnow/ui/DisplayFont.h"
#include "varnow/ui/HeadlessPrompts.h"
#include "varnow/ui/PreferencesDlg.h"
#include "varnow/ui/QtPrompts.h"
#include "varnow/ui/VarnowWindow.h"

namespace {

using namespace varnow;

bool Save(QWidget& widget, const QString& file) {
  const bool ok = widget.grab().save(file);
  std::printf("%s %s (%dx%d)\n", ok ? "wrote" : "FAILED", qPrintable(file), widget.width(), widget.height());
  return ok;
}

// A dialog made by make, in the desktop's font and then in a large one.
template <class Make>
bool SaveTwoSizes(Make make, const QString& stem) {
  bool ok = true;
  const QFont desktop = QApplication::font();
  for (bool large : {false, true}) {
    QFont font = desktop;
    if (large) font.setPixelSize(20);
    QApplication::setFont(font);
    auto dialog = make();
    dialog->show();
    dialog->adjustSize();
    ok &= Save(*dialog, stem + (large ? "-large-font.png" : ".png"));
  }
  QApplication::setFont(desktop);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QTemporaryDir home;
  setenv("HOME", qPrintable(home.path()), 1);
  setenv("XDG_CONFIG_HOME", qPrintable(home.path() + "/config"), 1);
  setenv("XDG_DATA_HOME", qPrintable(home.path() + "/data"), 1);
  QApplication app(argc, argv);
  const QString folder = argc > 1 ? argv[1] : "/tmp/prefs-shots";
  QDir().mkpath(folder);
  WriteProfileString(kSettingsSection, setting::kDataDirectory.name, home.path().toStdString() + "/data/");
  WriteProfileString(kFixedClusterSizesSection, "/srv/share", "8192");
  WriteProfileString(kFixedClusterSizesSection, "/media/usb-disk-with-a-rather-long-name", "32768");

  CQtPrompts prompts;
  CVarnowDlg dlg(prompts);
  CVarnowWindow window(dlg, prompts);
  window.OnInitDialog();  // the default display font
  window.show();
  bool ok = Save(window, folder + "/window-default-font.png");
  window.resize(window.width() * 3 / 2, window.height() * 3 / 2);
  ok &= Save(window, folder + "/window-default-font-wide.png");

  ok &= SaveTwoSizes([&] { return std::make_unique<CPreferencesDlg>(dlg, &window); }, folder + "/preferences");
  ok &= SaveTwoSizes([&] { return std::make_unique<CClusterSizeDialog>("/net/server/share", &window); },
                     folder + "/cluster-size-offered");
  ok &= SaveTwoSizes([&] { return std::make_unique<CClusterSizeDialog>("", &window); },
                     folder + "/cluster-size-from-preferences");
  return ok ? 0 : 1;
}
