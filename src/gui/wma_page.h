// The "WMA设置" page: the self-playing EXE's options and the WMA codec and
// format. The codec list holds the WMA encoder's codecs in their order; the
// format list the chosen codec's formats (constant bit rate, then the one-
// and two-pass variable passes, which have none), each item carrying its
// stored format code. An unchanged page applies the stored codec and format
// unchanged.
#pragma once

#include "gui/format_page.h"

class QCheckBox;
class QComboBox;
class QLineEdit;

namespace kestrel::gui {

class WmaPage : public FormatPage {
    Q_OBJECT
  public:
    explicit WmaPage(QWidget* parent = nullptr);
    void fill();

    QCheckBox *variableSpeed, *passwordOn;
    QLineEdit *password, *description;
    QComboBox *codec, *format;

  protected:
    int applyControls() override;
    void writeKeys() override;

  private:
    // Rebuilds the format list for `codec`.
    void fillFormats(int codec);
    int codec_ = 0;
    int format_ = 0;
};

} // namespace kestrel::gui
