#include "varnow/ui/StaticLink.h"

#include <QApplication>
#include <QDesktopServices>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QUrl>

namespace varnow {

CStaticLink::CStaticLink(const QString& text, QWidget* parent) : QLabel(text, parent) {
  // Only the underline is set, so face and size still follow the window's font.
  QFont underlined;
  underlined.setUnderline(true);
  setFont(underlined);
  setCursor(Qt::PointingHandCursor);
  setFocusPolicy(Qt::TabFocus);
  setAccessibleDescription("Link");
  SetColour(kUnvisitedColour);
}

bool CStaticLink::Open() {
  const QString address = m_link.isEmpty() ? text() : m_link;
  if (address.isEmpty()) return false;
  // fromUserInput: an address without a scheme ("www.example.org") still opens in a browser.
  if (!QDesktopServices::openUrl(QUrl::fromUserInput(address))) {
    QApplication::beep();
    return false;
  }
  SetColour(kVisitedColour);
  return true;
}

void CStaticLink::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) Open();
  else QLabel::mousePressEvent(event);
}

void CStaticLink::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter || event->key() == Qt::Key_Space) Open();
  else QLabel::keyPressEvent(event);
}

void CStaticLink::SetColour(const QColor& colour) {
  m_colour = colour;
  QPalette palette = this->palette();
  palette.setColor(QPalette::WindowText, colour);
  setPalette(palette);
}

}  // namespace varnow
