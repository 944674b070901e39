// The skin dialog ("界面换肤及颜色设置", modeless) and the two about windows.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;
class QSlider;

namespace kestrel::gui {

class SkinDialog : public QDialog {
    Q_OBJECT
  public:
    explicit SkinDialog(QWidget* parent = nullptr);
    // Shows the dialog for the colour and opacity in use.
    void showFor(int colourRef, int alpha);

    QPushButton* colourButtons[5];
    QSlider *red, *green, *blue, *opacity;
    QPushButton *titleStyle, *borderStyle, *save;

  signals:
    // A notification to the main window (8885, 8886, 8887 and its value).
    void notify(int code, int value);

  private:
    void setColour(int ref);
    void colourSliderReleased();
    QLabel *redValue_, *greenValue_, *blueValue_, *opacityValue_;
    int lastShown_ = 0x5C5C0C;
};

// The about dialog (the "关于" button and the title bar's menu).
class AboutDialog : public QDialog {
    Q_OBJECT
  public:
    explicit AboutDialog(QWidget* parent = nullptr);
};

// The small about box of the system menu: the title and an OK button.
class AboutBox : public QDialog {
    Q_OBJECT
  public:
    explicit AboutBox(QWidget* parent = nullptr);
};

} // namespace kestrel::gui
