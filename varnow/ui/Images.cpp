#include "varnow/ui/Images.h"

#include <QGuiApplication>
#include <QPainter>
#include <QSvgRenderer>

// The resources live in a static library; naming its initialiser links them in.
static void InitResources() {
  static const bool done = [] {
    Q_INIT_RESOURCE(varnow);
    return true;
  }();
  (void)done;
}

namespace varnow {

QPixmap ResourcePixmap(const char* path, QSize size) {
  InitResources();
  QSvgRenderer renderer{QString(path)};
  if (!renderer.isValid()) return {};
  if (size.isEmpty()) size = renderer.defaultSize();
  const qreal ratio = qGuiApp ? qGuiApp->devicePixelRatio() : 1.0;
  QPixmap pixmap(size * ratio);
  pixmap.setDevicePixelRatio(ratio);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(size)));
  return pixmap;
}

QIcon ResourceIcon(const char* path) {
  QIcon icon;
  for (int side : {16, 22, 24, 32, 48, 64}) {
    const QPixmap pixmap = ResourcePixmap(path, {side, side});
    if (pixmap.isNull()) return {};
    icon.addPixmap(pixmap);
  }
  return icon;
}

}  // namespace varnow
