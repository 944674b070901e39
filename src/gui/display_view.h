// The display box (control 1029) and the level meters (1060, 1061).
//
// The display thread computes each pass on its own thread; DisplayView is its
// painter: it draws the pass into two images there (the waveform over the
// whole box, the spectrum at its top-left corner) and hands them to the
// window's thread, which only shows them.
#pragma once

#include "engine/playback/display_thread.h"
#include "gui/skin.h"

#include <QImage>
#include <QWidget>

#include <atomic>
#include <mutex>

namespace kestrel::gui {

// A background band of the display's look: the base colour shaded by 2 v / 3
// (v the band's brightness, 0..255).
QColor displayBand(const QColor& base, int v);

class DisplayView : public QWidget, public DisplayPainter {
    Q_OBJECT
  public:
    explicit DisplayView(QWidget* parent = nullptr);
    void setColours(const SkinColours& c, int displayMode);

    // Display thread.
    DisplayGeometry measure() override;
    void paint(const DisplayFrame& frame) override;

    // Window thread: forgets the pictures (the display switched off repaints
    // the box empty).
    void clearPictures();
    // Passes shown so far (window thread).
    int shownPasses() const { return shown_; }
    QImage spectrumImage() const { return spectrum_; }
    QImage waveformImage() const { return wave_; }

  protected:
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;

  private:
    void drawWaveform(QImage& img, const DisplayFrame& f, const SkinColours& c, int mode);
    void drawSpectrum(QImage& img, const DisplayFrame& f, const SkinColours& c, int mode);
    std::atomic<int> width_{0}, height_{0};
    std::mutex coloursLock_;
    SkinColours colours_;
    int mode_ = 1;
    QImage threadWave_, threadSpectrum_; // display thread
    int spectrumWidth_ = 0;              // display thread
    QImage wave_, spectrum_;             // window thread
    int shown_ = 0;
};

// A level meter: the level bar over its peak band, mirrored for the left
// channel (growing leftward from the right edge), and the figure in dB.
class LevelMeter : public QWidget {
    Q_OBJECT
  public:
    LevelMeter(bool left, QWidget* parent = nullptr);
    void setColours(const SkinColours& c);
    // One level report (mean absolute sample).
    void setLevel(int mean);
    // Shows the figure text.
    void setFigure(const QString& figure);
    // Clears the bar and the peak (the window's timer while idle).
    void clear();
    int length() const { return length_; }
    int peak() const { return peak_; }

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    bool left_;
    int length_ = 0, peak_ = 0;
    QString figure_;
    SkinColours colours_;
};

} // namespace kestrel::gui
