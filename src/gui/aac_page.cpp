#include "gui/aac_page.h"

#include "engine/settings/settings.h"
#include "engine/settings/tables.h"
#include "gui/page_texts.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>

namespace kestrel::gui {

namespace {

QComboBox* positionList(const char* const* items, int n) {
    auto* c = new QComboBox;
    for (int i = 0; i < n; ++i)
        c->addItem(QString::fromUtf8(items[i]), i);
    return c;
}

template <size_t N> QComboBox* valueList(const int (&values)[N], const char* format) {
    auto* c = new QComboBox;
    for (int v : values)
        c->addItem(QString::asprintf(format, v), v);
    return c;
}

} // namespace

AacPage::AacPage(QWidget* parent) : FormatPage(parent) {
    profile = positionList(text::kAacProfiles, 4);
    quality = valueList(AAC_QUALITIES, "%d");
    bitRate = valueList(AAC_BIT_RATES, "%d bps");
    sampleRate = valueList(AAC_SAMPLE_RATES, "%d Hz");
    channels = new QComboBox;
    channels->addItem(QString::fromUtf8(text::kChannelItems[0]), 2);
    channels->addItem(QString::fromUtf8(text::kChannelItems[1]), 1);
    monoMode = positionList(text::kMonoModes, 3);
    amrMode = positionList(text::kAmrModes, 8);
    amrMonoMode = positionList(text::kMonoModes, 3);

    auto* g1 = labelledGroup(text::kGroupAac, {{text::kLabelAacProfile, profile},
                                               {text::kLabelAacQuality, quality},
                                               {text::kLabelAacBitRate, bitRate},
                                               {text::kLabelAacSampleRate, sampleRate},
                                               {text::kLabelChannels, channels},
                                               {text::kLabelMonoMode, monoMode}});
    auto* g2 = labelledGroup(text::kGroupAmr,
                             {{text::kLabelAmrMode, amrMode}, {text::kLabelMonoMode, amrMonoMode}});
    auto* h = new QHBoxLayout(this);
    h->addWidget(g1);
    h->addWidget(g2, 0, Qt::AlignTop);

    fill();
    connect(amrMode, &QComboBox::activated, this, [this] { amrChosen_ = true; });
    connect(channels, &QComboBox::currentIndexChanged, this,
            [this](int item) { monoMode->setEnabled(item == 1); });
}

void AacPage::fill() {
    const Settings& s = settings;
    // A stored value no item stands for (an AMR mode of 8, an AAC profile of
    // 4: the loader's ranges allow them) selects the setting's default item,
    // so that applying never stores "no selection".
    selectValue(profile, s.aac_profile, 1);
    selectValue(quality, s.aac_quality, 100);
    selectValue(bitRate, s.aac_bit_rate, 160000);
    selectValue(sampleRate, s.aac_sample_rate, 44100);
    channels->setCurrentIndex(s.aac_channels == 2 ? 0 : 1);
    monoMode->setEnabled(s.aac_channels != 2);
    selectValue(monoMode, s.aac_mono_mode, 0);
    selectValue(amrMode, s.amr_mode, 0);
    amrChosen_ = false;
    selectValue(amrMonoMode, s.amr_mono_mode, 0);
    amrMonoMode->setEnabled(true);
}

int AacPage::applyControls() {
    Settings& s = settings;
    // A stored mode no item stands for is kept until the user chooses one.
    if (amrChosen_ || amrMode->findData(s.amr_mode) >= 0)
        s.amr_mode = amrMode->currentData().toInt();
    s.aac_profile = profile->currentData().toInt();
    s.aac_mono_mode = monoMode->currentData().toInt();
    s.amr_mono_mode = amrMonoMode->currentData().toInt();
    s.aac_sample_rate = sampleRate->currentData().toInt();
    s.aac_bit_rate = bitRate->currentData().toInt();
    s.aac_quality = quality->currentData().toInt();
    s.aac_channels = channels->currentData().toInt();
    return 0;
}

void AacPage::writeKeys() {
    saveAacAmrPageSettings();
}

} // namespace kestrel::gui
