// The sound-effects window: echo, the ten-band filter and the level of the
// effects library, set through orvomix_setecho, orvomix_setiir and
// orvomix_setlevel. The library shows and hides it: the window registers
// itself with the library's window hook, which orvomix_setdisp calls.
#pragma once

#include <QWidget>

class QCheckBox;
class QLabel;
class QSlider;

namespace kestrel::gui {

class EffectsWindow : public QWidget {
    Q_OBJECT
  public:
    explicit EffectsWindow(QWidget* parent = nullptr);
    ~EffectsWindow() override;
    // Registers the window with the loaded effects library: true when the
    // library offers its window hook.
    bool attach();

    QCheckBox *echoOn, *filterOn, *levelOn;
    QSlider *echoDelay, *echoFeedback, *echoWet, *level;
    QSlider* bands[10];

  public slots:
    // Sends the controls' settings to the library.
    void sendEcho();
    void sendFilter();
    void sendLevel();

  private:
    static void hook(int show, void* context);
    bool attached_ = false;
};

} // namespace kestrel::gui
