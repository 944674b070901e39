// The skin's colours: the base colour of the settings ("软件界面颜色", held as a
// colour reference 0x00BBGGRR) and the shades every control is painted in.
#pragma once

#include <QColor>
#include <QString>

namespace kestrel::gui {

// The colour of a colour reference (red in the low byte).
QColor colourOfRef(int ref);
// The colour reference of a colour.
int refOfColour(const QColor& c);
// `c` lightened (amount > 0) or darkened (amount < 0) by `amount` in each of
// red, green and blue, saturating at 0 and 255.
QColor shade(const QColor& c, int amount);

struct SkinColours {
    QColor base;       // the skin colour
    QColor light;      // buttons, title bar
    QColor dark;       // list and display backgrounds
    QColor text;       // text on the skin
    QColor bar;        // level and spectrum bars
    QColor line;       // grid lines of the display
    QColor background; // the views' background base
};
SkinColours skinColours(int ref);

// The window's style sheet for a skin colour.
QString skinStyleSheet(const SkinColours& c);

} // namespace kestrel::gui
