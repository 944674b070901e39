#include "gui/mp3_page.h"

#include "engine/settings/settings.h"
#include "engine/settings/tables.h"
#include "gui/page_texts.h"
#include "platform/ports.h"

#include <QComboBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace kestrel::gui {

namespace {

QComboBox* positionList(const char* const* items, int n) {
    auto* c = new QComboBox;
    for (int i = 0; i < n; ++i)
        c->addItem(QString::fromUtf8(items[i]), i);
    return c;
}

QComboBox* channelList() {
    auto* c = new QComboBox;
    c->addItem(QString::fromUtf8(text::kChannelItems[0]), 2);
    c->addItem(QString::fromUtf8(text::kChannelItems[1]), 1);
    return c;
}

} // namespace

Mp3Page::Mp3Page(QWidget* parent) : FormatPage(parent) {
    version = positionList(text::kMp3Versions, 3);
    rateMode = positionList(text::kMp3RateModes, 3);
    vbrQuality = positionList(text::kVbrQualities, 10);
    cbr = new QComboBox;
    vbrMin = new QComboBox;
    vbrMax = new QComboBox;
    abr = new QLineEdit;
    abr->setPlaceholderText(QString::fromUtf8(text::kAbrHint));
    abr->setToolTip(QString::fromUtf8(text::kAbrHint));
    sampleRate = new QComboBox;
    channels = channelList();
    monoMode = positionList(text::kMonoModes, 3);
    conversionMode = positionList(text::kConversionModes, 3);
    saveMode = positionList(text::kSaveModes, 2);
    savePath = new QLineEdit;
    savePath->setMaxLength(511);
    choose = new QPushButton(QString::fromUtf8(text::kChoose));
    choose->setToolTip(QString::fromUtf8(text::kChooseTip));

    auto* g1 = labelledGroup(text::kGroupMp3, {{text::kLabelVersion, version},
                                               {text::kLabelRateMode, rateMode},
                                               {text::kLabelVbrQuality, vbrQuality},
                                               {text::kLabelCbr, cbr},
                                               {text::kLabelVbrMin, vbrMin},
                                               {text::kLabelVbrMax, vbrMax},
                                               {text::kLabelAbr, abr}});
    auto* g2 = labelledGroup(text::kGroupAudio, {{text::kLabelSampleRate, sampleRate},
                                                 {text::kLabelChannels, channels},
                                                 {text::kLabelMonoMode, monoMode}});
    auto* g3 = labelledGroup(text::kGroupMode, {{text::kLabelConversionMode, conversionMode},
                                                {text::kLabelSaveMode, saveMode}});
    auto* pathRow = new QHBoxLayout;
    pathRow->addWidget(savePath, 1);
    pathRow->addWidget(choose);
    static_cast<QFormLayout*>(g3->layout())
        ->addRow(QString::fromUtf8(text::kLabelSavePath), pathRow);
    auto* columns = new QHBoxLayout(this);
    columns->addWidget(g1);
    auto* right = new QVBoxLayout;
    right->addWidget(g2);
    right->addWidget(g3);
    columns->addLayout(right);

    fill();
    connect(version, &QComboBox::currentIndexChanged, this, &Mp3Page::versionChanged);
    connect(rateMode, &QComboBox::currentIndexChanged, this, &Mp3Page::rateModeChanged);
    connect(channels, &QComboBox::currentIndexChanged, this, &Mp3Page::channelsChanged);
    connect(choose, &QPushButton::clicked, this, [this] {
        QString f = QFileDialog::getSaveFileName(this, QString::fromUtf8(text::kChooseTitle),
                                                 savePath->text() + "*.MP3",
                                                 QString::fromUtf8(text::kChooseFilter));
        if (!f.isEmpty()) takeChosenFile(f);
    });
}

void Mp3Page::fillRates(int v, int cbrKbps, int minKbps, int maxKbps, int rate) {
    for (QComboBox* list : {cbr, vbrMin, vbrMax}) {
        QSignalBlocker b(list);
        list->clear();
        for (int i = 1; i <= 14; ++i) {
            const int kbps = MPEG_BITRATES[v][2][i];
            list->addItem(QString::asprintf(text::kRateItem, kbps), kbps);
        }
    }
    selectValue(cbr, cbrKbps, 128);
    selectValue(vbrMin, minKbps, 32);
    selectValue(vbrMax, maxKbps, 128);
    QSignalBlocker b(sampleRate);
    sampleRate->clear();
    for (int i = 0; i < 3; ++i)
        sampleRate->addItem(QString::number(MPEG_SAMPLE_RATES[v][i]), MPEG_SAMPLE_RATES[v][i]);
    selectValue(sampleRate, rate, MPEG_SAMPLE_RATES[v][0]);
}

void Mp3Page::fill() {
    const Settings& s = settings;
    version_ = s.mp3_version >= 0 && s.mp3_version <= 2 ? s.mp3_version : 0;
    QSignalBlocker b1(version), b2(rateMode), b3(channels);
    version->setCurrentIndex(version_);
    fillRates(version_, s.mp3_cbr_kbps, s.mp3_vbr_min_kbps, s.mp3_vbr_max_kbps, s.mp3_sample_rate);
    selectValue(rateMode, s.mp3_rate_mode, 0);
    selectValue(vbrQuality, s.mp3_vbr_quality, 4);
    abr->setText(QString::number(s.mp3_abr_kbps));
    channels->setCurrentIndex(s.mp3_channels == 2 ? 0 : 1);
    selectValue(monoMode, s.mp3_mono_mode, 0);
    selectValue(conversionMode, s.conversion_mode, 0);
    selectValue(saveMode, s.save_mode, 0);
    savePath->setText(QString::fromStdString(s.save_path));
    rateModeChanged(rateMode->currentIndex());
    channelsChanged(channels->currentIndex());
}

void Mp3Page::versionChanged(int v) {
    if (v < 0 || v > 2) return;
    // Each rate stays when the new version has it; else the rate both
    // versions' lists contain.
    fillRates(v, cbr->currentData().toInt(), vbrMin->currentData().toInt(),
              vbrMax->currentData().toInt(), sampleRate->currentData().toInt());
    version_ = v;
}

void Mp3Page::rateModeChanged(int mode) {
    cbr->setEnabled(mode == 0);
    vbrQuality->setEnabled(mode == 1);
    vbrMin->setEnabled(mode == 1);
    vbrMax->setEnabled(mode == 1);
    abr->setEnabled(mode == 2);
}

void Mp3Page::channelsChanged(int item) {
    monoMode->setEnabled(item == 1);
}

void Mp3Page::takeChosenFile(const QString& path) {
    const int slash = path.lastIndexOf('/');
    if (slash >= 0) savePath->setText(path.left(slash + 1));
}

int Mp3Page::applyControls() {
    bool ok = false;
    const int abrKbps = abr->text().trimmed().toInt(&ok);
    if (!ok || abrKbps < 80 || abrKbps > 320) {
        showMessage(text::kAppName, text::kAbrRange);
        return -1;
    }
    if (vbrMax->currentIndex() < vbrMin->currentIndex()) {
        showMessage(text::kAppName, text::kVbrMinAboveMax);
        return -1;
    }
    Settings& s = settings;
    s.mp3_version = version->currentIndex();
    s.mp3_vbr_quality = vbrQuality->currentIndex();
    s.mp3_rate_mode = rateMode->currentIndex();
    s.mp3_abr_kbps = abrKbps;
    s.mp3_cbr_kbps = cbr->currentData().toInt();
    s.mp3_vbr_min_kbps = vbrMin->currentData().toInt();
    s.mp3_vbr_max_kbps = vbrMax->currentData().toInt();
    s.mp3_sample_rate = sampleRate->currentData().toInt();
    s.mp3_channels = channels->currentData().toInt();
    s.mp3_mono_mode = monoMode->currentIndex();
    s.save_mode = saveMode->currentIndex();
    s.conversion_mode = conversionMode->currentIndex();
    s.save_path = savePath->text().toStdString();
    return 0;
}

void Mp3Page::writeKeys() {
    saveMp3PageSettings();
}

} // namespace kestrel::gui
