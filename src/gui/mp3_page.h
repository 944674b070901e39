// The "MP3设置" page: MP3 encoding, the audio format shared by the MP3, WAV,
// EXE, WMA, FLV and AVI outputs, the conversion and save modes and the output
// folder.
#pragma once

#include "gui/format_page.h"

class QComboBox;
class QLineEdit;
class QPushButton;

namespace kestrel::gui {

class Mp3Page : public FormatPage {
    Q_OBJECT
  public:
    explicit Mp3Page(QWidget* parent = nullptr);
    // Fills the controls from the settings.
    void fill();
    // Puts `path` (a chosen file) into the folder edit: up to and including
    // its last "/".
    void takeChosenFile(const QString& path);

    QComboBox *version, *rateMode, *vbrQuality, *cbr, *vbrMin, *vbrMax, *sampleRate, *channels,
        *monoMode, *conversionMode, *saveMode;
    QLineEdit *abr, *savePath;
    QPushButton* choose;

  protected:
    int applyControls() override;
    void writeKeys() override;

  private:
    void versionChanged(int v);
    void rateModeChanged(int mode);
    void channelsChanged(int item);
    void fillRates(int v, int cbrKbps, int minKbps, int maxKbps, int rate);
    int version_ = 0;
};

} // namespace kestrel::gui
