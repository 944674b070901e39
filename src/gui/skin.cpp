#include "gui/skin.h"

#include <algorithm>

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

SkinColours skinColours(int ref) {
    SkinColours s;
    s.base = colourOfRef(ref);
    s.light = shade(s.base, 40);
    s.dark = shade(s.base, -40);
    s.text = s.base.lightness() > 150 ? QColor(Qt::black) : QColor(0xF0, 0xF0, 0xF0);
    s.bar = shade(s.base, 110);
    s.line = shade(s.base, 70);
    s.background = shade(s.base, -20);
    return s;
}

QString skinStyleSheet(const SkinColours& c) {
    const QString base = c.base.name(), light = c.light.name(), dark = c.dark.name(),
                  text = c.text.name(), hover = shade(c.light, 25).name(), pressed = c.dark.name(),
                  bar = c.bar.name();
    return QStringLiteral(
               "QWidget#kestrelMain, QDialog { background: %1; color: %4; }"
               "QLabel, QCheckBox, QGroupBox { color: %4; }"
               "QGroupBox { border: 1px solid %2; border-radius: 6px; margin-top: 10px; }"
               "QGroupBox::title { subcontrol-origin: margin; left: 8px; }"
               "QPushButton { background: %2; color: %4; border: 1px solid %3;"
               "  border-radius: 7px; padding: 3px 8px; }"
               "QPushButton:hover { background: %5; }"
               "QPushButton:pressed, QPushButton:checked { background: %6; }"
               "QPushButton:disabled { color: gray; }"
               "QTabWidget::pane { border: 1px solid %2; border-radius: 4px; }"
               "QTabBar::tab { background: %3; color: %4; padding: 4px 10px;"
               "  border-top-left-radius: 6px; border-top-right-radius: 6px; }"
               "QTabBar::tab:selected { background: %2; }"
               "QTreeWidget, QLineEdit, QComboBox { background: %3; color: %4;"
               "  border: 1px solid %2; }"
               "QProgressBar { background: %3; border: 1px solid %2; border-radius: 4px; }"
               "QProgressBar::chunk { background: %7; border-radius: 3px; }"
               "QSlider::groove:horizontal { height: 4px; background: %3; border-radius: 2px; }"
               "QSlider::handle:horizontal { background: %7; width: 12px; height: 12px;"
               "  margin: -5px 0; border-radius: 6px; }")
        .arg(base, light, dark, text, hover, pressed, bar);
}

} // namespace kestrel::gui
