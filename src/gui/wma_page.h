// The "WMA设置" page: the self-playing EXE's options and the WMA codec and
// format. The codec lists come from the system's Windows Media audio codecs,
// which this system has none of: the lists stay empty and an unchanged page
// applies the stored codec and format unchanged.
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
    int codec_ = 0;
    int format_ = 0;
};

} // namespace kestrel::gui
