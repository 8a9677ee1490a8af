// The display font between the stored record and the toolkit: the one mapping of a logical-font
// record to a QFont and back, and applying the stored font to a window and its grids.
#pragma once

#include <QFont>

#include "varnow/settings/FontSetting.h"

class QWidget;

namespace varnow {

// A negative height is the pixel size (a positive one is taken as the pixel size too; 0 keeps
// the toolkit's size); weight 0 means normal. When the face is not installed the desktop's
// font of the same kind stands in (sans-serif unless the record says otherwise), while the
// font keeps the record's face as its family, so that it is written back unchanged.
QFont FontFromLogFont(const CLogFont& record);
// The record of a font: its pixel size as a negative height (a size in points at 96 dots per
// inch, rounded), its weight, italic, underline, strike-out, fixed pitch and kind, and its
// family as the face name. The fields a QFont does not have are 0.
CLogFont LogFontFromFont(const QFont& font);

// The font a font dialog opens on for a record: the installed face that draws it, in its exact
// style (a dialog given only a weight picks the face's first style, which may be oblique), at
// the record's size in points.
QFont FontDialogStart(const CLogFont& record);
// The record of the font chosen in a dialog that opened on FontDialogStart(before): a size left
// as it was keeps before's pixel height, which whole points cannot always express.
CLogFont ChosenLogFont(const QFont& chosen, const CLogFont& before);

// Gives window, its children and every directory grid in it the stored display font (headings
// bold, cells normal), writing the default first when none is stored. False, with the fonts
// left as they were, when no font can be had.
bool ApplyDisplayFont(QWidget* window);

}  // namespace varnow
