#include "varnow/ui/DisplayFont.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "platform/guarded.h"
#include "platform/tracelog.h"
#include "varnow/ui/Grid.h"

namespace varnow {

namespace {

// Pitch and family byte: the low two bits are the pitch, the high four the kind of face.
constexpr std::uint8_t kFixedPitch = 0x01;
constexpr std::uint8_t kFamilyMask = 0xF0;
constexpr std::uint8_t kRoman = 0x10;
constexpr std::uint8_t kSwiss = 0x20;
constexpr std::uint8_t kModern = 0x30;
constexpr std::uint8_t kScript = 0x40;
constexpr std::uint8_t kDecorative = 0x50;

constexpr int kNormalWeight = 400;
// Bounds a damaged record's size to one that can be drawn.
constexpr int kMaxPixelSize = 400;

QFont::StyleHint HintOf(std::uint8_t pitchAndFamily) {
  switch (pitchAndFamily & kFamilyMask) {
    case kRoman: return QFont::Serif;
    case kSwiss: return QFont::SansSerif;
    case kModern: return QFont::Monospace;
    case kScript: return QFont::Cursive;
    case kDecorative: return QFont::Decorative;
    default: return QFont::AnyStyle;
  }
}

std::uint8_t FamilyOf(QFont::StyleHint hint) {
  switch (hint) {
    case QFont::Serif: return kRoman;
    case QFont::SansSerif: return kSwiss;
    case QFont::Monospace:
    case QFont::TypeWriter: return kModern;
    case QFont::Cursive: return kScript;
    case QFont::Decorative:
    case QFont::Fantasy: return kDecorative;
    default: return 0;
  }
}

// The desktop's face of the kind a record asks for.
QString StandInFamily(const CLogFont& record) {
  if ((record.pitchAndFamily & kFixedPitch) || (record.pitchAndFamily & kFamilyMask) == kModern)
    return QFontDatabase::systemFont(QFontDatabase::FixedFont).family();
  if ((record.pitchAndFamily & kFamilyMask) == kRoman) return QStringLiteral("serif");
  return QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
}

}  // namespace

QFont FontFromLogFont(const CLogFont& record) {
  QFont font;
  if (!record.faceName.empty()) {
    const QString face = QString::fromUtf8(record.faceName.data(), static_cast<qsizetype>(record.faceName.size()));
    QStringList families{face};
    if (!QFontDatabase::hasFamily(face)) families << StandInFamily(record);
    font.setFamilies(families);
  }
  const std::int64_t height = std::llabs(static_cast<std::int64_t>(record.height));
  if (height != 0) font.setPixelSize(static_cast<int>(std::min<std::int64_t>(height, kMaxPixelSize)));
  const int weight = record.weight == 0 ? kNormalWeight : std::clamp<int>(record.weight, 1, 1000);
  font.setWeight(static_cast<QFont::Weight>(weight));
  font.setItalic(record.italic != 0);
  font.setUnderline(record.underline != 0);
  font.setStrikeOut(record.strikeOut != 0);
  font.setFixedPitch((record.pitchAndFamily & kFixedPitch) != 0);
  font.setStyleHint(HintOf(record.pitchAndFamily));
  return font;
}

CLogFont LogFontFromFont(const QFont& font) {
  CLogFont record;
  if (font.pixelSize() > 0) record.height = -font.pixelSize();
  else record.height = -static_cast<std::int32_t>(std::lround(font.pointSizeF() * 96.0 / 72.0));
  record.weight = font.weight();
  record.italic = font.italic() ? 1 : 0;
  record.underline = font.underline() ? 1 : 0;
  record.strikeOut = font.strikeOut() ? 1 : 0;
  record.pitchAndFamily = static_cast<std::uint8_t>((font.fixedPitch() ? kFixedPitch : 0) | FamilyOf(font.styleHint()));
  record.faceName = font.family().toUtf8().toStdString();
  return record;
}

QFont FontDialogStart(const CLogFont& record) {
  const QFont font = FontFromLogFont(record);
  const QFontInfo drawn(font);
  QFont start(drawn.family());
  start.setStyleName(drawn.styleName());
  start.setWeight(font.weight());
  start.setItalic(font.italic());
  start.setUnderline(font.underline());
  start.setStrikeOut(font.strikeOut());
  start.setPointSizeF(drawn.pixelSize() * 72.0 / 96.0);
  return start;
}

CLogFont ChosenLogFont(const QFont& chosen, const CLogFont& before) {
  CLogFont record = LogFontFromFont(chosen);
  if (chosen.pointSize() == FontDialogStart(before).pointSize()) record.height = before.height;
  return record;
}

bool ApplyDisplayFont(QWidget* window) {
  return platform::Guarded("ApplyDisplayFont", [&] {
    if (!window) return false;
    const std::optional<CLogFont> record = ReadFontSettingOrDefault();
    if (!record) return false;
    const QFont font = FontFromLogFont(*record);
    window->setFont(font);  // reaches every child that has no font of its own
    for (CGrid* grid : window->findChildren<CGrid*>()) grid->SetGridFont(font);
    return true;
  }, false);
}

}  // namespace varnow
