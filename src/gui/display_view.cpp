#include "gui/display_view.h"

#include "engine/pipeline/display_feed.h"

#include <QPainter>

#include <algorithm>

namespace kestrel::gui {

namespace {

QColor gdiColour(int ref) {
    return colourOfRef(ref);
}

} // namespace

QColor displayBand(const QColor& base, int v) {
    return shade(base, 2 * v / 3 - 85);
}

DisplayView::DisplayView(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(200, 90);
    colours_ = skinColours(0x5C5C0C);
}

void DisplayView::setColours(const SkinColours& c, int displayMode) {
    std::lock_guard<std::mutex> g(coloursLock_);
    colours_ = c;
    mode_ = displayMode;
}

DisplayGeometry DisplayView::measure() {
    DisplayGeometry g;
    g.wave_width = width_.load();
    g.wave_height = height_.load();
    g.spectrum_width = width_.load();
    g.spectrum_height = height_.load();
    return g;
}

void DisplayView::resizeEvent(QResizeEvent* e) {
    width_ = width();
    height_ = height();
    QWidget::resizeEvent(e);
}

void DisplayView::drawWaveform(QImage& img, const DisplayFrame& f, const SkinColours& c, int mode) {
    const int w = img.width(), h = img.height(), middle = h / 2;
    QPainter p(&img);
    for (int y = 0; y < h; y += 4) {
        const int d = std::abs(y - middle) / 4;
        p.fillRect(0, y, w, 4, displayBand(c.background, waveformBandValue(d, f.zoom, mode)));
    }
    p.setPen(c.line);
    const int row = std::max(1, h / 6);
    for (int i = 1; i <= 6; ++i)
        p.drawLine(0, i * row, w, i * row);
    p.drawLine(0, h - 2, w, h - 2);
    for (int x = 0; x < w; x += 10)
        p.drawLine(x, 0, x, h);
    p.drawLine(w - 1, 0, w - 1, h);
    const double scale = (h - 4) / 255.0;
    const int n = std::min<int>(w, static_cast<int>(f.wave_left.size()));
    QPoint lastTop, lastBottom;
    for (int x = 0; x < n; ++x) {
        const int top = middle - static_cast<int>(f.wave_left[x] * scale);
        const int bottom = middle + static_cast<int>(f.wave_right[x] * scale);
        p.setPen(shade(c.bar, -((x / 12) % 4) * 20));
        p.drawLine(x, top, x, bottom);
        if (x > 0) {
            p.setPen(Qt::white);
            p.drawLine(lastTop, QPoint(x, top - 1));
            p.setPen(Qt::black);
            p.drawLine(lastBottom, QPoint(x, bottom + 1));
        }
        lastTop = QPoint(x, top - 1);
        lastBottom = QPoint(x, bottom + 1);
    }
}

void DisplayView::drawSpectrum(QImage& img, const DisplayFrame& f, const SkinColours& c, int mode) {
    const int w = img.width(), e = f.e;
    QPainter p(&img);
    for (int x = 0; x < w; x += 8)
        p.fillRect(x, 0, 8, img.height(),
                   displayBand(c.background, spectrumBandValue(x, w, f.zoom, mode)));
    p.setPen(gdiColour(0x0F120F));
    for (int x = 0; x < w; x += 8 * f.zoom)
        p.drawLine(x, 0, x, img.height());
    p.drawRect(0, 0, w - 1, img.height() - 1);
    p.drawLine(0, e / 2 + 4, w, e / 2 + 4);
    p.fillRect(0, e + 7, w, 3, Qt::red);
    p.setPen(Qt::black);
    p.drawLine(0, e + 10, w, e + 10);
    for (int g = 1; g < f.bars && g < static_cast<int>(f.bar_heights.size()); ++g) {
        const int d = f.bar_heights[g], x = g * f.zoom;
        if (d <= 0) continue;
        for (int y = 0; y < d; y += 2) {
            const int light = d <= 2 ? -40 : std::min(12 * (y / 2), 200) - 60;
            p.fillRect(x, e + 8 - y - 2, f.zoom, 2, shade(c.bar, light));
        }
        if (d >= 5) {
            p.fillRect(x, e + 8 - d - 2, f.zoom, 2, QColor(0x80, 0x80, 0x80));
            p.fillRect(x, e + 8 - d - 4, f.zoom, 2, Qt::white);
        } else if (d >= 3) {
            p.fillRect(x, e + 8 - d - 2, f.zoom, 2, gdiColour(0x008080));
        }
    }
    if (f.energy_length > 0) {
        for (int x = 0; x < f.energy_length; x += 2) {
            const int v = std::min(255, 4 * x);
            p.fillRect(x, e + 12, 2, 6, QColor(v, v / 2, 255 - v));
        }
        p.setPen(QPen(Qt::black, 2));
        p.drawLine(0, e + 18, f.energy_length, e + 18);
        p.drawLine(f.energy_length, e + 12, f.energy_length, e + 18);
    }
}

void DisplayView::paint(const DisplayFrame& f) {
    SkinColours c;
    int mode;
    {
        std::lock_guard<std::mutex> g(coloursLock_);
        c = colours_;
        mode = mode_;
    }
    const int h = std::max(1, f.geometry.spectrum_height);
    // The spectrum view keeps the width the first pass gave it: half the
    // transform, within the box.
    if (f.first || spectrumWidth_ <= 0) spectrumWidth_ = f.first ? f.width : (f.fft_size + 1) / 2;
    const int sw = std::max(1, std::min(spectrumWidth_, std::max(1, f.geometry.spectrum_width)));
    if (f.first || threadSpectrum_.isNull()) {
        threadWave_ = QImage(std::max(1, f.geometry.wave_width),
                             std::max(1, f.geometry.wave_height), QImage::Format_RGB32);
        threadWave_.fill(c.background);
    }
    if (threadSpectrum_.width() != sw || threadSpectrum_.height() != h)
        threadSpectrum_ = QImage(sw, h, QImage::Format_RGB32);
    if (f.first) threadSpectrum_.fill(gdiColour(0xC00000));
    drawSpectrum(threadSpectrum_, f, c, mode);
    if (f.waveform) drawWaveform(threadWave_, f, c, mode);
    QImage wave = threadWave_.copy(), spectrum = threadSpectrum_.copy();
    QMetaObject::invokeMethod(
        this,
        [this, wave, spectrum] {
            wave_ = wave;
            spectrum_ = spectrum;
            ++shown_;
            update();
        },
        Qt::QueuedConnection);
}

void DisplayView::clearPictures() {
    wave_ = QImage();
    spectrum_ = QImage();
    update();
}

void DisplayView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    SkinColours c;
    {
        std::lock_guard<std::mutex> g(coloursLock_);
        c = colours_;
    }
    p.fillRect(rect(), c.dark);
    if (!wave_.isNull()) p.drawImage(0, 0, wave_);
    if (!spectrum_.isNull()) p.drawImage(0, 0, spectrum_);
    if (wave_.isNull() && spectrum_.isNull()) {
        p.setPen(c.textOnDark);
        p.drawText(rect(), Qt::AlignCenter, windowTitle());
    }
}

LevelMeter::LevelMeter(bool left, QWidget* parent) : QWidget(parent), left_(left) {
    setMinimumSize(80, 22);
    colours_ = skinColours(0x5C5C0C);
}

void LevelMeter::setColours(const SkinColours& c) {
    colours_ = c;
    update();
}

void LevelMeter::setLevel(int mean) {
    const int figureWidth = 52;
    length_ = meterLength(mean, std::max(0, width() - figureWidth));
    peak_ = std::max(peak_, length_);
    update();
}

void LevelMeter::setFigure(const QString& figure) {
    figure_ = figure;
    update();
}

void LevelMeter::clear() {
    length_ = peak_ = 0;
    update();
}

void LevelMeter::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const int figureWidth = 52;
    const int w = std::max(0, width() - figureWidth), h = height();
    const int x0 = left_ ? figureWidth : 0;
    p.fillRect(rect(), colours_.dark);
    auto bar = [&](int len, int top, int bottom, const QColor& colour) {
        if (len <= 0) return;
        const int x = left_ ? x0 + w - len : x0;
        p.fillRect(x + 1, top + 1, len, bottom - top, Qt::black);
        p.fillRect(x, top, len, bottom - top, colour);
    };
    bar(peak_, 3, h - 4, colours_.background.lighter(150));
    bar(length_, 4, h - 6, colours_.bar);
    p.setPen(colours_.textOnDark);
    const QRect figureBox = left_ ? QRect(0, 0, figureWidth, h) : QRect(w, 0, figureWidth, h);
    p.drawText(figureBox, Qt::AlignCenter, figure_);
}

} // namespace kestrel::gui
