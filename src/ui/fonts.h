#pragma once

#include <QFont>
#include <QString>

namespace dazoroz::ui {

// The program's font is the classic 8-point sans serif of its windows (character height 11 px at
// 96 dpi). Debian's fonts-wine package ships a bitmap lookalike ("MS Sans Serif") with the very
// metrics the windows' layouts were made for, and a Tahoma lookalike; both are loaded from the
// package's folder, so no fontconfig change is needed. Qt takes only the 8-point strike of the
// bitmap font, so larger text (13-pixel headings) uses the Tahoma lookalike, and so does all text
// at a display scale other than 1, where a bitmap strike cannot grow. Without the package:
// Liberation Sans (Arial metrics), then whatever sans serif the system has.

// Registers the font files found with the application (once; later calls do nothing).
// Returns the family that uiFont() will use.
QString loadUiFonts();

// The program's font for a character height in pixels (11: the normal text; 13: headings).
QFont uiFont(int characterHeight = 11);

// Loads the fonts and makes uiFont(11) the application's font.
void applyApplicationFont();

} // namespace dazoroz::ui
