// The banner box (control 1043): a three-line text block that moves through
// six phases while nothing plays or converts, advanced by the window's 250 ms
// timer, over a background of the display's look (display_mode).
#pragma once

#include "gui/skin.h"

#include <QWidget>

namespace kestrel::gui {

struct BannerState {
    int phase = 1; // 1..6
    int ticks = 0;
    int look = 2; // 1..3
    // One timer tick with the box's client size: advances the phase and
    // returns the block's top-left corner.
    QPoint advance(int width, int height);
};

class Banner : public QWidget {
    Q_OBJECT
  public:
    explicit Banner(QWidget* parent = nullptr);
    void tick();
    void reset();
    void setColours(const SkinColours& c, int displayMode);
    const BannerState& state() const { return state_; }

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    BannerState state_;
    QPoint at_{2, 2};
    SkinColours colours_;
    int mode_ = 1;
};

} // namespace kestrel::gui
