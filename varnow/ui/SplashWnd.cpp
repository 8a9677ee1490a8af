#include "varnow/ui/SplashWnd.h"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>

#include "varnow/ui/Images.h"

namespace varnow {

CSplashWnd* CSplashWnd::ShowSplashScreen(QWidget* owner, int milliseconds) {
  if (!s_current) {
    s_current = new CSplashWnd(owner, milliseconds);
    s_current->show();
  }
  return s_current;
}

CSplashWnd::CSplashWnd(QWidget* owner, int milliseconds)
    : QWidget(owner, Qt::SplashScreen | Qt::FramelessWindowHint), m_owner(owner),
      m_picture(ResourcePixmap(kAboutImage)) {
  setAttribute(Qt::WA_DeleteOnClose);
  setAccessibleName("Varnow");
  setCursor(Qt::ArrowCursor);
  setFixedSize(m_picture.isNull() ? QSize(400, 150) : m_picture.deviceIndependentSize().toSize());
  CentreOverOwner();
  m_timer.setSingleShot(true);
  connect(&m_timer, &QTimer::timeout, this, &CSplashWnd::OnTimer);
  m_timer.start(milliseconds);
}

CSplashWnd::~CSplashWnd() {
  if (s_current == this) s_current = nullptr;
}

void CSplashWnd::CentreOverOwner() {
  QRect area;
  if (m_owner && m_owner->isVisible()) area = m_owner->window()->frameGeometry();
  else if (QScreen* screen = m_owner ? m_owner->screen() : QGuiApplication::primaryScreen())
    area = screen->availableGeometry();
  if (area.isValid()) move(area.center() - rect().center());
}

void CSplashWnd::OnTimer() {
  s_current = nullptr;  // another may show while this one is being deleted
  close();              // deletes this later
  if (m_owner) m_owner->update();
}

void CSplashWnd::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (m_picture.isNull()) painter.fillRect(rect(), palette().window());
  else painter.drawPixmap(0, 0, m_picture);
}

}  // namespace varnow
