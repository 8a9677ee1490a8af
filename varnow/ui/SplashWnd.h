// The picture shown while the main window opens: a borderless window centred over its owner that
// closes and deletes itself after a moment. Only one exists at a time.
#pragma once

#include <QPixmap>
#include <QPointer>
#include <QTimer>
#include <QWidget>

namespace varnow {

class CSplashWnd : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kShowMilliseconds = 2000;

  // Shows the splash over owner (over the screen when owner is null or not shown yet), unless
  // one is shown already; returns the one on show.
  static CSplashWnd* ShowSplashScreen(QWidget* owner, int milliseconds = kShowMilliseconds);
  // The splash on show, or null.
  static CSplashWnd* Current() { return s_current; }

  int Milliseconds() const { return m_timer.interval(); }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  CSplashWnd(QWidget* owner, int milliseconds);
  ~CSplashWnd() override;
  void CentreOverOwner();
  void OnTimer();

  static inline CSplashWnd* s_current = nullptr;
  QPointer<QWidget> m_owner;
  QPixmap m_picture;
  QTimer m_timer;
};

}  // namespace varnow
