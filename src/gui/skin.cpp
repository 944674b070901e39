#include "gui/skin.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace kestrel::gui {

QColor colourOfRef(int ref) {
    return QColor(ref & 0xFF, (ref >> 8) & 0xFF, (ref >> 16) & 0xFF);
}

int refOfColour(const QColor& c) {
    return c.red() | (c.green() << 8) | (c.blue() << 16);
}

QColor shade(const QColor& c, int amount) {
    auto clip = [](int v) { return std::clamp(v, 0, 255); };
    return QColor(clip(c.red() + amount), clip(c.green() + amount), clip(c.blue() + amount));
}

double relativeLuminance(const QColor& c) {
    auto linear = [](int v) {
        const double s = v / 255.0;
        return s <= 0.03928 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(c.red()) + 0.7152 * linear(c.green()) + 0.0722 * linear(c.blue());
}

double contrastRatio(const QColor& a, const QColor& b) {
    const double la = relativeLuminance(a), lb = relativeLuminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor readableOn(std::initializer_list<QColor> surfaces) {
    double onBlack = 21, onWhite = 21;
    for (const QColor& s : surfaces) {
        onBlack = std::min(onBlack, contrastRatio(Qt::black, s));
        onWhite = std::min(onWhite, contrastRatio(Qt::white, s));
    }
    return onBlack >= onWhite ? QColor(Qt::black) : QColor(Qt::white);
}

QColor keepReadable(const QColor& text, const QColor& surface) {
    return contrastRatio(text, surface) >= kTextContrast ? text : readableOn(surface);
}

QColor dimmedOn(const QColor& text, const QColor& surface) {
    // The furthest step towards the surface that still keeps 3.2:1.
    QColor best = text;
    for (int step = 1; step <= 20; ++step) {
        const double t = step / 20.0;
        const QColor mixed(
            static_cast<int>(std::lround(text.red() + (surface.red() - text.red()) * t)),
            static_cast<int>(std::lround(text.green() + (surface.green() - text.green()) * t)),
            static_cast<int>(std::lround(text.blue() + (surface.blue() - text.blue()) * t)));
        if (contrastRatio(mixed, surface) < 3.6) break;
        best = mixed;
    }
    return best;
}

namespace {

// A surface of middle luminance, where neither black nor white reaches 5:1,
// moved away from its text colour until it does: small glyphs drawn with
// smoothed edges lose some of the contrast their colour has.
QColor separated(const QColor& surface) {
    QColor s = surface;
    const QColor text = readableOn(s);
    for (int i = 0; i < 40 && contrastRatio(text, s) < 5.0; ++i)
        s = shade(s, text == QColor(Qt::black) ? 3 : -3);
    return s;
}

} // namespace

SkinColours skinColours(int ref) {
    SkinColours s;
    s.base = separated(colourOfRef(ref));
    s.light = separated(shade(colourOfRef(ref), 40));
    s.dark = separated(shade(colourOfRef(ref), -40));
    s.bar = shade(s.base, 110);
    s.line = shade(s.base, 70);
    s.background = shade(s.base, -20);
    s.hover = separated(shade(s.light, 25));
    // The selection stands apart from the list it is drawn in.
    s.highlight =
        separated(relativeLuminance(s.dark) > 0.18 ? shade(s.base, -120) : shade(s.base, 120));
    s.text = readableOn(s.base);
    s.textOnLight = readableOn(s.light);
    s.textOnDark = readableOn(s.dark);
    s.textOnHover = readableOn(s.hover);
    s.textOnHighlight = readableOn(s.highlight);
    s.dimText = dimmedOn(s.text, s.base);
    s.dimOnLight = dimmedOn(s.textOnLight, s.light);
    s.dimOnDark = dimmedOn(s.textOnDark, s.dark);
    return s;
}

std::vector<StyleRule> skinStyleRules(const SkinColours& c) {
    // {base}, {light}, ... name the colours of SkinColours.
    auto fill = [&](const char* rule) {
        const std::pair<const char*, QColor> names[] = {{"{base}", c.base},
                                                        {"{light}", c.light},
                                                        {"{dark}", c.dark},
                                                        {"{hover}", c.hover},
                                                        {"{highlight}", c.highlight},
                                                        {"{bar}", c.bar},
                                                        {"{text}", c.text},
                                                        {"{onLight}", c.textOnLight},
                                                        {"{onDark}", c.textOnDark},
                                                        {"{onHover}", c.textOnHover},
                                                        {"{onHighlight}", c.textOnHighlight},
                                                        {"{dim}", c.dimText},
                                                        {"{dimLight}", c.dimOnLight},
                                                        {"{dimDark}", c.dimOnDark}};
        QString t = QString::fromLatin1(rule);
        for (const auto& [name, colour] : names)
            t.replace(QLatin1String(name), colour.name());
        return t;
    };
    return {
        {"window", fill("QWidget#kestrelMain, QWidget#kestrelOutputManager, QDialog,"
                        " QWidget#kestrelEffects { background: {base}; color: {text}; }")},
        {"labels", fill("QLabel, QCheckBox, QRadioButton, QGroupBox { color: {text}; }"
                        " QLabel:disabled, QCheckBox:disabled, QRadioButton:disabled,"
                        " QGroupBox:disabled { color: {dim}; }")},
        {"group",
         fill("QGroupBox { border: 1px solid {light}; border-radius: 6px; margin-top: 10px; }"
              " QGroupBox::title { subcontrol-origin: margin; left: 8px; }")},
        {"button",
         fill("QPushButton { background: {light}; color: {onLight};"
              " border: 1px solid {dark}; border-radius: 7px; padding: 3px 8px; }"
              " QPushButton:hover { background: {hover};"
              " color: {onHover}; }"
              " QPushButton:pressed, QPushButton:checked { background: {dark}; color: {onDark}; }"
              " QPushButton:disabled { background: {light};"
              " color: {dimLight}; border-style: dashed; }")},
        {"link", fill("QPushButton:flat { background: transparent; border: none;"
                      " color: {text}; text-decoration: underline; }"
                      " QPushButton:flat:hover { background: {hover}; color: {onHover}; }")},
        {"tabs", fill("QTabWidget::pane { border: 1px solid {light}; border-radius: 4px; }"
                      " QTabBar::tab { background: {dark}; color: {onDark}; padding: 4px 10px;"
                      " border-top-left-radius: 6px; border-top-right-radius: 6px; }"
                      " QTabBar::tab:selected { background: {light}; color: {onLight}; }"
                      " QTabBar::tab:disabled { color: {dimDark}; }")},
        {"fields",
         fill("QLineEdit, QComboBox, QSpinBox { background: {dark}; color: {onDark};"
              " border: 1px solid {light}; border-radius: 3px; padding: 1px 4px;"
              " selection-background-color: {highlight}; selection-color: {onHighlight}; }"
              " QLineEdit:disabled, QComboBox:disabled, QSpinBox:disabled {"
              " color: {dimDark}; border-style: dashed; }"
              " QComboBox { padding-right: 18px; }")},
        // The open list of a drop-down list is a window of its own: without its
        // own colours it would take the system's background under the field's
        // text colour.
        {"comboPopup", fill("QComboBox QAbstractItemView { background: {dark}; color: {onDark};"
                            " border: 1px solid {light}; selection-background-color: {highlight};"
                            " selection-color: {onHighlight}; outline: none; }")},
        {"views",
         fill("QTreeView, QTableView, QFileDialog QListView { background: {dark};"
              " color: {onDark}; border: 1px solid {light}; alternate-background-color: {dark};"
              " selection-background-color: {highlight}; selection-color: {onHighlight}; }"
              " QTreeView:disabled, QFileDialog QListView:disabled { color: {dimDark}; }"
              " QHeaderView::section { background: {light}; color: {onLight};"
              " border: none; border-right: 1px solid {dark}; padding: 2px 4px; }")},
        {"menu", fill("QMenu { background: {dark}; color: {onDark}; border: 1px solid {light}; }"
                      " QMenu::item:selected { background: {highlight}; color: {onHighlight}; }"
                      " QMenu::item:disabled { color: {dimDark}; }")},
        {"tooltip",
         fill("QToolTip { background: {dark}; color: {onDark}; border: 1px solid {light};"
              " padding: 2px; }")},
        {"progress",
         fill("QProgressBar { background: {dark}; color: {onDark}; border: 1px solid {light};"
              " border-radius: 4px; text-align: center; }"
              " QProgressBar::chunk { background: {bar}; border-radius: 3px; }")},
        {"slider",
         fill("QSlider::groove:horizontal { height: 4px; background: {dark};"
              " border-radius: 2px; }"
              " QSlider::handle:horizontal { background: {bar}; width: 12px; height: 12px;"
              " margin: -5px 0; border-radius: 6px; }")},
    };
}

QString skinStyleSheet(const SkinColours& c) {
    QString sheet;
    for (const StyleRule& r : skinStyleRules(c))
        sheet += r.text + QLatin1Char('\n');
    return sheet;
}

} // namespace kestrel::gui
