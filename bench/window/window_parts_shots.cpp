// Writes pictures of the directory grid, the About box, the alert dialogs, the splash and the
// icons, each at two sizes, to the folder given (default /tmp/window-parts-shots), for a person to look at.
//   window_parts_shots [FOLDER]
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QTextBrowser>

#include <cstdio>
#include <iterator>
#include <cstdlib>

#include "varnow/report/FormatSize.h"
#include "varnow/report/Growth.h"
#include "varnow/ui/AboutDlg.h"
#include "varnow/ui/AlertDlg.h"
#include "varnow/ui/Grid.h"
#include "varnow/ui/GrowthDlg.h"
#include "varnow/ui/Images.h"
#include "varnow/ui/SplashWnd.h"

namespace {

using namespace varnow;

CDirData SampleRecord() {
  CDirData record;
  record.m_currentScanDir = "/home/ann/";
  record.m_times = {1764950400, 1764345600, 1763740800, 1763136000, 0, 0};
  const auto add = [&record](const std::string& name, std::initializer_list<std::int64_t> sizes) {
    CDirInfo& entry = record.FindOrAddEntry(name);
    std::size_t i = 0;
    for (std::int64_t size : sizes) entry.sizes[i++] = size;
  };
  add("Documents", {734003200, 700000000, 690000000, 650000000});
  add("Pictures", {21474836480, 20401094656, 19327352832, 18253611008});
  add("Music", {5368709120, 5368709120, 5368709120, -1});
  add(".cache", {1288490188, 900000000, 1500000000, 100000000});
  add("projects with a long name that does not fit", {52428800, 41943040});
  add("two\nlines", {4096});
  add("caf\xE9", {8192, 8192});
  add("new", {1048576});
  add(std::string(kTotalUsed), {29000000000, 27500000000, 27000000000, 26000000000});
  add(std::string(kTotalFree), {80000000000, 81500000000, 82000000000, 83000000000});
  return record;
}

// The growth of a home folder between two weekly scans: a deep folder, a cache that shrank, a
// folder that went away and a new one.
CGrowthReport SampleGrowth() {
  CGrowthRanking ranking("/home/ann/", 20);
  const auto record = [](const std::string& path, std::int64_t before, std::int64_t now,
                         std::vector<CDirInfo> children) {
    CDirData made;
    made.m_currentScanDir = path;
    made.m_times = {1764950400, 1764345600, 0, 0, 0, 0};
    made.m_entries = std::move(children);
    made.m_entries.push_back({std::string(kTotalUsed), {now, before, -1, -1, -1, -1}});
    return made;
  };
  const auto h = [](std::int64_t now, std::int64_t before) { return SizeHistory{now, before, -1, -1, -1, -1}; };
  ranking.Add(record("/home/ann/", 27500000000, 29000000000,
                     {{"Pictures", h(21474836480, 20401094656)}, {".cache", h(900000000, 1288490188)},
                      {"projects with a long name that does not fit", h(52428800, 41943040)},
                      {"old downloads", h(-1, 300000000)}, {"new", h(1048576, -1)}}));
  ranking.Add(record("/home/ann/Pictures/", 20401094656, 21474836480, {{"2025", h(21474836480, 20401094656)}}));
  ranking.Add(record("/home/ann/Pictures/2025/", 20401094656, 21474836480, {{"December holiday", h(1073741824, 0)}}));
  ranking.Add(record("/home/ann/.cache/", 1288490188, 900000000, {}));
  ranking.Add(record("/home/ann/projects with a long name that does not fit/", 41943040, 52428800, {}));
  return ranking.Finish();
}

bool Save(const QPixmap& picture, const QString& file) {
  const bool ok = picture.save(file);
  std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(file));
  return ok;
}

QPixmap IconStrip(int side) {
  const char* icons[] = {kProgramIconImage, kScanImage, kSaveImage, kPrintImage, kGrowthImage, kPreferencesImage,
                         kAlertsImage, kHelpImage, kExitImage};
  QPixmap strip(static_cast<int>(std::size(icons)) * (side + 8), side + 8);
  strip.fill(QColor(0xef, 0xef, 0xef));
  QPainter painter(&strip);
  int x = 4;
  for (const char* icon : icons) {
    painter.drawPixmap(x, 4, ResourceIcon(icon).pixmap(side, side));
    x += side + 8;
  }
  return strip;
}

// The alert dialogs with a few alerts listed (nothing is asked of the scheduler), at the start
// font and at a large one.
bool AlertDialogShots(const QString& folder) {
  bool ok = true;
  for (int pointSize : {0, 15}) {
    const QString suffix = pointSize ? "-large-font.png" : ".png";
    AlertManagementDialog alerts("/home/ann/Downloads/");
    if (pointSize) {
      QFont large = QApplication::font();
      large.setPointSize(pointSize);
      alerts.setFont(large);
    }
    for (const char* text : {"/home/ann/Downloads/ space usage change > 10%, check every 1 hours",
                             "/srv/backup/ free space < 1048576 K, check every 1 days",
                             "Custom: /DIR=/home/ann/My Data \"x\"/ /SCAN /SAVE, run every 30 minutes"})
      alerts.AlertList()->addItem(text);
    alerts.KindButton(1)->click();
    alerts.NotifyButton(kNotifyProgram)->click();
    alerts.ProgramField()->setText("notify-send \"Disk alert\" $MSG$");
    alerts.adjustSize();
    alerts.show();
    ok &= Save(alerts.grab(), folder + "/alert-management" + suffix);

    AlertCommandLineDialog line(
        "/usr/bin/varnow \"/DIR=/home/ann/My Data \"\"\"x\"\"\"/\" /ALERTPERCENT=10 \"/NOTIFY=notify-send \"\"\"Disk "
        "alert\"\"\" $MSG$\"");
    if (pointSize) line.setFont(alerts.font());
    line.adjustSize();
    line.show();
    ok &= Save(line.grab(), folder + "/alert-command-line" + suffix);
  }
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  const QString folder = argc > 1 ? argv[1] : "/tmp/window-parts-shots";
  QDir().mkpath(folder);
  bool ok = true;

  const CDirData record = SampleRecord();
  CGrid grid;
  grid.FillInGrid(record, SizeUnit::kSmart, SortMethod::kBySize);
  grid.resize(640, 260);
  grid.show();
  ok &= Save(grid.grab(), folder + "/grid-start-font-640.png");
  QFont font = app.font();
  grid.SetGridFont(font);
  ok &= Save(grid.grab(), folder + "/grid-640.png");
  grid.resize(1180, 360);
  ok &= Save(grid.grab(), folder + "/grid-1180.png");
  font.setPointSize(16);
  grid.SetGridFont(font);
  grid.SetColWidth(0, 260);
  for (int column = 1; column <= 6; ++column) grid.SetColWidth(column, 180);
  ok &= Save(grid.grab(), folder + "/grid-large-font-1180.png");
  CDirData empty;
  grid.FillInGrid(empty, SizeUnit::kSmart, SortMethod::kBySize);
  ok &= Save(grid.grab(), folder + "/grid-empty.png");

  const CGrowthReport growth = SampleGrowth();
  const std::string projection = "At the current rate the disk holding /home/ann/ fills around March 4, 2027";
  CGrowthDlg growthDlg(growth, SizeUnit::kSmart, projection, nullptr);
  growthDlg.show();
  ok &= Save(growthDlg.grab(), folder + "/growth-dialog.png");
  QFont growthFont = app.font();
  growthFont.setPointSize(15);
  growthDlg.setFont(growthFont);
  growthDlg.resize(1280, 560);
  ok &= Save(growthDlg.grab(), folder + "/growth-dialog-large-font.png");

  CAboutDlg about;
  about.show();
  ok &= Save(about.grab(), folder + "/about.png");
  QFont large = app.font();
  large.setPointSize(15);
  about.setFont(large);
  about.adjustSize();
  ok &= Save(about.grab(), folder + "/about-large-font.png");

  ok &= AlertDialogShots(folder);

  CSplashWnd* splash = CSplashWnd::ShowSplashScreen(nullptr, 60000);
  ok &= Save(splash->grab(), folder + "/splash.png");
  splash->close();

  QTextBrowser help;  // a rough look at the help page (browsers render its style sheet fully)
  help.setSource(QUrl::fromLocalFile(VARNOW_HELP_PAGE));
  help.resize(820, 1000);
  help.show();
  ok &= Save(help.grab(), folder + "/help-top.png");
  help.scrollToAnchor("disk-size-considerations");
  ok &= Save(help.grab(), folder + "/help-disk-size.png");

  ok &= Save(IconStrip(24), folder + "/icons-24.png");
  ok &= Save(IconStrip(48), folder + "/icons-48.png");
  return ok ? 0 : 1;
}
