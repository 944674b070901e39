#include "gui/wma_page.h"

#include "engine/settings/settings.h"
#include "gui/page_texts.h"
#include "platform/wm_writer.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace kestrel::gui {

namespace {

// `text` cut to at most `bytes` bytes of UTF-8 without splitting a character.
std::string cutUtf8(const std::string& text, size_t bytes) {
    if (text.size() <= bytes) return text;
    size_t n = bytes;
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80)
        --n;
    return text.substr(0, n);
}

} // namespace

WmaPage::WmaPage(QWidget* parent) : FormatPage(parent) {
    variableSpeed = new QCheckBox(QString::fromUtf8(text::kExeVariableSpeed));
    passwordOn = new QCheckBox(QString::fromUtf8(text::kExePasswordOn));
    password = new QLineEdit;
    password->setMaxLength(8);
    description = new QLineEdit;
    codec = new QComboBox;
    format = new QComboBox;
    for (size_t i = 0; i < wmaCodecs().size(); ++i)
        codec->addItem(QString::fromUtf8(wmaCodecs()[i].name), static_cast<int>(i));

    auto* g1 = new QGroupBox(QString::fromUtf8(text::kGroupExe));
    auto* f1 = new QFormLayout(g1);
    f1->addRow(variableSpeed);
    f1->addRow(passwordOn);
    f1->addRow(QString::fromUtf8(text::kLabelPassword), password);
    f1->addRow(new QLabel(QString::fromUtf8(text::kNotePassword)));
    f1->addRow(QString::fromUtf8(text::kLabelDescription), description);
    f1->addRow(new QLabel(QString::fromUtf8(text::kNoteExeFormat)));
    auto* g2 = labelledGroup(text::kGroupWma,
                             {{text::kLabelWmaCodec, codec}, {text::kLabelWmaFormat, format}});
    auto* v = new QVBoxLayout(this);
    v->addWidget(g1);
    v->addWidget(g2);
    v->addStretch(1);

    fill();
    connect(passwordOn, &QCheckBox::toggled, password, &QLineEdit::setEnabled);
    connect(codec, &QComboBox::activated, this, [this](int i) {
        codec_ = codec->itemData(i).toInt();
        fillFormats(codec_);
        format_ = 0;
        format->setCurrentIndex(format->count() > 0 ? 0 : -1);
    });
    connect(format, &QComboBox::activated, this,
            [this](int i) { format_ = format->itemData(i).toInt(); });
}

void WmaPage::fillFormats(int c) {
    format->clear();
    for (const WmaFormatItem& item : wmaFormatList(c))
        format->addItem(QString::fromStdString(item.description), item.value);
}

void WmaPage::fill() {
    const Settings& s = settings;
    codec_ = s.wma_codec;
    format_ = s.wma_format;
    // The stored choice is shown: its codec's formats, and the format it
    // encodes with (a variable-rate code encodes as the constant format of
    // the same index). A code no item stands for leaves the list without a
    // selection; applying keeps the stored values all the same.
    const int shownCodec = codec->findData(s.wma_codec);
    codec->setCurrentIndex(shownCodec);
    fillFormats(shownCodec >= 0 ? s.wma_codec : 0);
    int shownFormat = format->findData(s.wma_format);
    if (shownFormat < 0 && s.wma_format >= kWmaVbrOffset)
        shownFormat = format->findData(s.wma_format % kWmaVbrOffset);
    format->setCurrentIndex(shownCodec >= 0 ? shownFormat : -1);
    variableSpeed->setChecked(s.exe_variable_speed == 1);
    passwordOn->setChecked(s.exe_password_on == 1);
    password->setText(QString::fromStdString(s.exe_password));
    password->setEnabled(s.exe_password_on == 1);
    description->setText(QString::fromStdString(s.exe_description));
}

int WmaPage::applyControls() {
    Settings& s = settings;
    s.exe_description = cutUtf8(description->text().toStdString(), kDescriptionField - 1);
    s.exe_password = cutUtf8(password->text().toStdString(), kPasswordField - 1);
    s.exe_variable_speed = variableSpeed->isChecked() ? 1 : 0;
    s.exe_password_on = passwordOn->isChecked() ? 1 : 0;
    s.wma_codec = codec_;
    s.wma_format = format_;
    return 0;
}

void WmaPage::writeKeys() {
    saveWmaExePageSettings();
}

} // namespace kestrel::gui
