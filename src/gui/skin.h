// The skin's colours: the base colour of the settings ("软件界面颜色", held as a
// colour reference 0x00BBGGRR) and the shades every control is painted in.
// Every text colour is chosen for the surface it is drawn on: black or white,
// whichever stands out more from that surface's luminance, so that any base
// colour keeps every text readable.
#pragma once

#include <QColor>
#include <QString>

#include <initializer_list>
#include <vector>

namespace kestrel::gui {

// The colour of a colour reference (red in the low byte).
QColor colourOfRef(int ref);
// The colour reference of a colour.
int refOfColour(const QColor& c);
// `c` lightened (amount > 0) or darkened (amount < 0) by `amount` in each of
// red, green and blue, saturating at 0 and 255.
QColor shade(const QColor& c, int amount);

// The relative luminance of a colour (0 black .. 1 white), and the contrast
// ratio of two colours (1 .. 21), as the web's accessibility guidelines
// define them.
double relativeLuminance(const QColor& c);
double contrastRatio(const QColor& a, const QColor& b);
// Black or white, whichever contrasts more with every one of `surfaces`
// (at least 4.5:1 against a single surface).
QColor readableOn(std::initializer_list<QColor> surfaces);
inline QColor readableOn(const QColor& surface) {
    return readableOn({surface});
}
// `text` kept if it reaches 4.5:1 on `surface`, else the readable colour.
QColor keepReadable(const QColor& text, const QColor& surface);
// The text of a disabled control: `text` (readable on `surface`) moved
// towards the surface until it contrasts by about 3.6:1, never less than 3:1.
QColor dimmedOn(const QColor& text, const QColor& surface);

inline constexpr double kTextContrast = 4.5;
inline constexpr double kDisabledContrast = 3.0;

struct SkinColours {
    QColor base;       // the skin colour
    QColor light;      // buttons, title bar
    QColor dark;       // list and display backgrounds
    QColor text;       // text on the skin
    QColor bar;        // level and spectrum bars
    QColor line;       // grid lines of the display
    QColor background; // the views' background base
    QColor hover;      // a button under the pointer
    QColor highlight;  // the selected item of a list
    // Text on each surface, enabled and disabled.
    QColor textOnLight, textOnDark, textOnHover, textOnHighlight;
    QColor dimText, dimOnLight, dimOnDark;
};
SkinColours skinColours(int ref);

// The style sheet of the program's windows and dialogs for a skin colour,
// one named rule per part of a control.
struct StyleRule {
    const char* name;
    QString text;
};
std::vector<StyleRule> skinStyleRules(const SkinColours& c);
QString skinStyleSheet(const SkinColours& c);

} // namespace kestrel::gui
