// A text that behaves as a hyperlink: underlined, blue, a pointing hand over it. A click (or
// Enter or Space when it has the focus) opens its address in the desktop's handler; after a
// successful open it turns purple, after a failed one the display beeps.
#pragma once

#include <QColor>
#include <QLabel>

namespace varnow {

class CStaticLink : public QLabel {
  Q_OBJECT
 public:
  static inline const QColor kUnvisitedColour{0, 0, 255};
  static inline const QColor kVisitedColour{128, 0, 128};

  explicit CStaticLink(const QString& text = {}, QWidget* parent = nullptr);

  // The address to open; empty (the default) means the shown text.
  void SetLink(const QString& link) { m_link = link; }
  QString Link() const { return m_link; }
  QColor Colour() const { return m_colour; }

  // Opens the address. False when there is none (nothing happens) or when the desktop could not
  // open it (after a beep).
  bool Open();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void SetColour(const QColor& colour);

  QString m_link;
  QColor m_colour;
};

}  // namespace varnow
