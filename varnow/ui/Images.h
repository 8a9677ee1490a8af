// The tracker's pictures, drawn from the SVG files compiled into the program. Drawing them here
// (instead of through Qt's image plugins) means a missing plugin cannot leave buttons blank.
#pragma once

#include <QIcon>
#include <QPixmap>
#include <QSize>

namespace varnow {

// Resource paths.
inline constexpr char kProgramIconImage[] = ":/varnow/varnow.svg";
inline constexpr char kAboutImage[] = ":/varnow/about.svg";  // the About box and the splash
inline constexpr char kScanImage[] = ":/varnow/icons/scan.svg";
inline constexpr char kSaveImage[] = ":/varnow/icons/save.svg";
inline constexpr char kPrintImage[] = ":/varnow/icons/print.svg";
inline constexpr char kGrowthImage[] = ":/varnow/icons/growth.svg";
inline constexpr char kPreferencesImage[] = ":/varnow/icons/preferences.svg";
inline constexpr char kAlertsImage[] = ":/varnow/icons/alerts.svg";
inline constexpr char kHelpImage[] = ":/varnow/icons/help.svg";
inline constexpr char kExitImage[] = ":/varnow/icons/exit.svg";

// The picture at the given size in device-independent pixels (its own size when size is
// empty), sharp on high-density screens; a null pixmap when it cannot be drawn.
QPixmap ResourcePixmap(const char* path, QSize size = {});
// An icon with the picture drawn at the usual icon sizes; a null icon when it cannot be drawn.
QIcon ResourceIcon(const char* path);

}  // namespace varnow
