#include "gui/skin_dialog.h"

#include "engine/settings/settings.h"
#include "gui/main_window.h"
#include "gui/main_window_controls.h"
#include "gui/skin.h"
#include "gui/texts.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

namespace kestrel::gui {

namespace {

constexpr int kFixedColours[4] = {0x5C5C0C, 0x205C08, 0x084248, 0x521008};
using namespace text::skin;

void paintButton(QPushButton* b, int ref) {
    b->setStyleSheet(QStringLiteral("background: %1; border-radius: 9px; min-width: 36px;"
                                    " min-height: 22px;")
                         .arg(colourOfRef(ref).name()));
}

} // namespace

SkinDialog::SkinDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QString::fromUtf8(kSkinTitle));
    setModal(false);
    auto* colours = new QHBoxLayout;
    for (int i = 0; i < 5; ++i) {
        colourButtons[i] = new QPushButton;
        colours->addWidget(colourButtons[i]);
        if (i < 4) paintButton(colourButtons[i], kFixedColours[i]);
        connect(colourButtons[i], &QPushButton::clicked, this,
                [this, i] { setColour(i < 4 ? kFixedColours[i] : lastShown_); });
    }
    auto makeSlider = [this](int lo, int hi, QLabel*& value) {
        auto* s = new QSlider(Qt::Horizontal);
        s->setRange(lo, hi);
        value = new QLabel("0");
        value->setMinimumWidth(30);
        connect(s, &QSlider::valueChanged, value, [value](int v) { value->setNum(v); });
        return s;
    };
    red = makeSlider(0, 255, redValue_);
    green = makeSlider(0, 255, greenValue_);
    blue = makeSlider(0, 255, blueValue_);
    opacity = makeSlider(120, 255, opacityValue_);
    for (QSlider* s : {red, green, blue})
        connect(s, &QSlider::sliderReleased, this, &SkinDialog::colourSliderReleased);
    connect(opacity, &QSlider::sliderMoved, this,
            [this](int v) { emit notify(kNotifySkinAlpha, v); });
    connect(opacity, &QSlider::sliderReleased, this, [this] {
        settings.window_alpha = opacity->value();
        emit notify(kNotifySkinAlpha, 255);
        emit notify(kNotifyApplyAlpha, 0);
    });
    auto* grid = new QGridLayout;
    const char* labels[4] = {kRed, kGreen, kBlue, kOpacity};
    QSlider* sliders[4] = {red, green, blue, opacity};
    QLabel* values[4] = {redValue_, greenValue_, blueValue_, opacityValue_};
    for (int i = 0; i < 4; ++i) {
        grid->addWidget(new QLabel(QString::fromUtf8(labels[i])), i, 0);
        grid->addWidget(sliders[i], i, 1);
        grid->addWidget(values[i], i, 2);
    }
    titleStyle = new QPushButton(QString::fromUtf8(kTitleStyle));
    borderStyle = new QPushButton(QString::fromUtf8(kBorderStyle));
    save = new QPushButton(QString::fromUtf8(kSaveSkin));
    connect(titleStyle, &QPushButton::clicked, this, [this] {
        settings.title_style = (settings.title_style + 1) % 4;
        emit notify(kNotifyApplySkin, 0);
    });
    connect(borderStyle, &QPushButton::clicked, this, [this] {
        settings.border_style = settings.border_style >= 6 ? 0 : settings.border_style + 1;
        emit notify(kNotifyApplySkin, 0);
    });
    connect(save, &QPushButton::clicked, this, [this] {
        saveSkinSettings();
        hide();
    });
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(titleStyle);
    buttons->addWidget(borderStyle);
    buttons->addStretch(1);
    buttons->addWidget(save);
    auto* v = new QVBoxLayout(this);
    v->addLayout(colours);
    v->addLayout(grid);
    v->addLayout(buttons);
}

void SkinDialog::showFor(int colourRef, int alpha) {
    lastShown_ = colourRef;
    paintButton(colourButtons[4], colourRef);
    const QColor c = colourOfRef(colourRef);
    red->setValue(c.red());
    green->setValue(c.green());
    blue->setValue(c.blue());
    opacity->setValue(alpha);
    show();
    raise();
}

void SkinDialog::setColour(int ref) {
    settings.skin_colour = ref;
    const QColor c = colourOfRef(ref);
    red->setValue(c.red());
    green->setValue(c.green());
    blue->setValue(c.blue());
    emit notify(kNotifyApplySkin, 0);
}

void SkinDialog::colourSliderReleased() {
    settings.skin_colour = refOfColour(QColor(red->value(), green->value(), blue->value()));
    emit notify(kNotifyApplySkin, 0);
}

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QString::fromUtf8(text::kAbout));
    auto* v = new QVBoxLayout(this);
    auto* title = new QLabel(QString::fromUtf8(text::kAboutProduct));
    QFont f = title->font();
    f.setPointSize(f.pointSize() + 3);
    f.setBold(true);
    title->setFont(f);
    v->addWidget(title);
    auto link = [this, v](const char* label, const char* page) {
        auto* b = new QPushButton(QString::fromUtf8(label));
        b->setFlat(true);
        b->setCursor(Qt::PointingHandCursor);
        const QString p = QString::fromLatin1(page);
        connect(b, &QPushButton::clicked, this, [p] {
            if (MainWindow::openHelpPage) MainWindow::openHelpPage(p);
        });
        v->addWidget(b);
    };
    link(text::kAboutFeedback, "contact.html");
    link(text::kAboutUpdate, "update.html");
    link(text::kAboutLink1, "index.html");
    link(text::kAboutLink2, "update.html");
    link(text::kAboutLink3, "contact.html");
    auto* back = new QPushButton(QString::fromUtf8("返回"));
    back->setToolTip(QString::fromUtf8(text::kAboutReturnTip));
    connect(back, &QPushButton::clicked, this, &QDialog::accept);
    v->addWidget(back, 0, Qt::AlignRight);
}

AboutBox::AboutBox(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QString::fromUtf8(text::kAbout));
    auto* v = new QVBoxLayout(this);
    v->addWidget(new QLabel(QString::fromUtf8(text::kAboutBoxTitle)));
    auto* ok = new QDialogButtonBox(QDialogButtonBox::Ok);
    connect(ok, &QDialogButtonBox::accepted, this, &QDialog::accept);
    v->addWidget(ok);
}

} // namespace kestrel::gui
