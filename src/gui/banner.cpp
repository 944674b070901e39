#include "gui/banner.h"

#include "gui/display_view.h"

#include <QPainter>

#include <algorithm>

namespace kestrel::gui {

namespace {

// The two sets of three lines: odd phases show the first, even the second.
const char* const kLines[2][3] = {
    {"MPG/VCD/DVD/AVI/RM/MP4/FLV/AMR", "转换成 MP3/WAV/EXE/WMA/AAC/AMR", "岚石多媒体MP3转换器"},
    {"频谱及波形显示  音效调整", "快速转换 保留原来音频", "录制暂停 用于裁减"}};

} // namespace

QPoint BannerState::advance(int w, int h) {
    ++ticks;
    int x = 2, y = 2;
    if (phase <= 2) {
        y = std::max(2, h - ticks * h / 25);
        if (ticks >= 30) {
            ++phase;
            ticks = 0;
        }
    } else if (phase <= 4) {
        x = std::max(2, w - ticks * w / 100);
        if (ticks >= 105) {
            ++phase;
            ticks = 0;
        }
    } else {
        x = std::max(2, w - ticks * w / 100);
        y = std::max(2, h - ticks * h / 100);
        if (ticks > 104) {
            ticks = 0;
            if (++phase > 6) {
                phase = 1;
                look = look == 3 ? 1 : look + 1;
            }
        }
    }
    return {x, y};
}

Banner::Banner(QWidget* parent) : QWidget(parent) {
    setMinimumSize(200, 60);
    colours_ = skinColours(0x5C5C0C);
}

void Banner::tick() {
    at_ = state_.advance(width(), height());
    update();
}

void Banner::reset() {
    state_ = BannerState{};
    at_ = {2, 2};
    update();
}

void Banner::setColours(const SkinColours& c, int displayMode) {
    colours_ = c;
    mode_ = displayMode;
    update();
}

void Banner::paintEvent(QPaintEvent*) {
    QPainter p(this);
    // Bands 8 columns wide, shaded as the spectrum view's background.
    for (int x = 0; x < width(); x += 8)
        p.fillRect(x, 0, 8, height(),
                   displayBand(colours_.background, spectrumBandValue(x, width(), 1, mode_)));
    const auto& lines = kLines[(state_.phase - 1) % 2];
    const QColor textColour = state_.look == 1   ? colours_.bar
                              : state_.look == 2 ? QColor(Qt::white)
                                                 : colours_.light.lighter(160);
    // The bands run from dark to light, so no one colour reads on all of
    // them: the shadow surrounds each letter, in the extreme farthest from
    // the text's colour, and the text reads against its shadow.
    const QColor shadow = readableOn(textColour);
    const int step = fontMetrics().height();
    for (int i = 0; i < 3; ++i) {
        const QString t = QString::fromUtf8(lines[i]);
        const int y = at_.y() + (i + 1) * step;
        p.setPen(shadow);
        for (const QPoint d : {QPoint(1, 1), QPoint(-1, 0), QPoint(1, 0), QPoint(0, -1),
                               QPoint(0, 1), QPoint(-1, -1), QPoint(1, -1), QPoint(-1, 1)})
            p.drawText(at_.x() + d.x(), y + d.y(), t);
        p.setPen(textColour);
        p.drawText(at_.x(), y, t);
    }
}

} // namespace kestrel::gui
