// The "MP4设置" page: AAC and AMR encoding.
#pragma once

#include "gui/format_page.h"

class QComboBox;

namespace kestrel::gui {

class AacPage : public FormatPage {
    Q_OBJECT
  public:
    explicit AacPage(QWidget* parent = nullptr);
    void fill();

    QComboBox *profile, *quality, *bitRate, *sampleRate, *channels, *monoMode, *amrMode,
        *amrMonoMode;

  protected:
    int applyControls() override;
    void writeKeys() override;

  private:
    bool amrChosen_ = false; // the user chose an AMR mode since the page was filled
};

} // namespace kestrel::gui
