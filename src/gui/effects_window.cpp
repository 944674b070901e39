#include "gui/effects_window.h"

#include "engine/libraries/lib_orvosoundmix.h"
#include "gui/texts.h"
#include "platform/paths.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QSlider>
#include <QVBoxLayout>

#include <dlfcn.h>

namespace kestrel::gui {

namespace {

using namespace text::effects;

using WindowHookFn = int (*)(void (*)(int, void*), void*);

// The library's window hook (an export the program's loader does not bind).
WindowHookFn windowHookExport() {
    const std::string path = libraryFolder() + "/orvosoundmix.so";
    void* h = ::dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!h) return nullptr;
    auto fn = reinterpret_cast<WindowHookFn>(::dlsym(h, "orvomix_set_window_hook"));
    ::dlclose(h); // the program's loader keeps its own reference
    return fn;
}

QSlider* slider(Qt::Orientation o, int lo, int hi, int v) {
    auto* s = new QSlider(o);
    s->setRange(lo, hi);
    s->setValue(v);
    return s;
}

} // namespace

EffectsWindow::EffectsWindow(QWidget* parent) : QWidget(parent, Qt::Tool) {
    setObjectName("kestrelEffects");
    setAttribute(Qt::WA_StyledBackground); // the skin's background
    setWindowTitle(QString::fromUtf8(kTitle));
    echoOn = new QCheckBox(QString::fromUtf8(kOn));
    filterOn = new QCheckBox(QString::fromUtf8(kOn));
    levelOn = new QCheckBox(QString::fromUtf8(kOn));
    echoDelay = slider(Qt::Horizontal, 1, 2000, 250);
    echoFeedback = slider(Qt::Horizontal, 0, 90, 30);
    echoWet = slider(Qt::Horizontal, 0, 100, 40);
    level = slider(Qt::Horizontal, -600, 200, 0);

    auto* echo = new QGroupBox(QString::fromUtf8(kEcho));
    auto* eg = new QGridLayout(echo);
    eg->addWidget(echoOn, 0, 0, 1, 2);
    eg->addWidget(new QLabel(QString::fromUtf8(kDelay)), 1, 0);
    eg->addWidget(echoDelay, 1, 1);
    eg->addWidget(new QLabel(QString::fromUtf8(kFeedback)), 2, 0);
    eg->addWidget(echoFeedback, 2, 1);
    eg->addWidget(new QLabel(QString::fromUtf8(kWet)), 3, 0);
    eg->addWidget(echoWet, 3, 1);

    auto* filter = new QGroupBox(QString::fromUtf8(kFilter));
    auto* fg = new QGridLayout(filter);
    fg->addWidget(filterOn, 0, 0, 1, 10);
    for (int i = 0; i < 10; ++i) {
        bands[i] = slider(Qt::Vertical, -120, 120, 0);
        bands[i]->setMinimumHeight(90);
        fg->addWidget(bands[i], 1, i, Qt::AlignHCenter);
        fg->addWidget(new QLabel(QString::fromLatin1(kBandNames[i])), 2, i, Qt::AlignHCenter);
        connect(bands[i], &QSlider::valueChanged, this, &EffectsWindow::sendFilter);
    }

    auto* lv = new QGroupBox(QString::fromUtf8(kLevel));
    auto* lg = new QHBoxLayout(lv);
    lg->addWidget(levelOn);
    lg->addWidget(new QLabel(QString::fromUtf8(kGain)));
    lg->addWidget(level, 1);

    auto* v = new QVBoxLayout(this);
    v->addWidget(echo);
    v->addWidget(filter);
    v->addWidget(lv);

    connect(echoOn, &QCheckBox::toggled, this, &EffectsWindow::sendEcho);
    for (QSlider* s : {echoDelay, echoFeedback, echoWet})
        connect(s, &QSlider::valueChanged, this, &EffectsWindow::sendEcho);
    connect(filterOn, &QCheckBox::toggled, this, &EffectsWindow::sendFilter);
    connect(levelOn, &QCheckBox::toggled, this, &EffectsWindow::sendLevel);
    connect(level, &QSlider::valueChanged, this, &EffectsWindow::sendLevel);
}

EffectsWindow::~EffectsWindow() {
    if (attached_) {
        if (WindowHookFn fn = windowHookExport()) fn(nullptr, nullptr);
    }
}

bool EffectsWindow::attach() {
    WindowHookFn fn = windowHookExport();
    if (!fn) return false;
    fn(&EffectsWindow::hook, this);
    attached_ = true;
    return true;
}

void EffectsWindow::hook(int show, void* context) {
    auto* self = static_cast<EffectsWindow*>(context);
    QMetaObject::invokeMethod(
        self, [self, show] { self->setVisible(show != 0); }, Qt::QueuedConnection);
}

void EffectsWindow::sendEcho() {
    if (!orvosoundmixLoaded()) return;
    orvosoundmix.orvomix_setecho(echoOn->isChecked() ? 1 : 0, echoDelay->value(),
                                 echoFeedback->value(), echoWet->value());
}

void EffectsWindow::sendFilter() {
    if (!orvosoundmixLoaded()) return;
    int gains[10];
    for (int i = 0; i < 10; ++i)
        gains[i] = bands[i]->value();
    orvosoundmix.orvomix_setiir(filterOn->isChecked() ? 1 : 0, gains, 10);
}

void EffectsWindow::sendLevel() {
    if (!orvosoundmixLoaded()) return;
    orvosoundmix.orvomix_setlevel(levelOn->isChecked() ? 1 : 0, level->value());
}

} // namespace kestrel::gui
