#include "gui/main_window.h"

#include "engine/catalogue/disc_scan.h"
#include "engine/catalogue/media_list.h"
#include "engine/convert/conversion_driver.h"
#include "engine/convert/fast_conversion.h"
#include "engine/convert/fast_texts.h"
#include "engine/core/captions.h"
#include "engine/core/text_format.h"
#include "engine/libraries/lib_orvosoundmix.h"
#include "engine/pipeline/display_feed.h"
#include "engine/pipeline/texts_platform.h"
#include "engine/playback/display_thread.h"
#include "engine/playback/players.h"
#include "engine/playback/texts_output_manager.h"
#include "engine/playback/texts_players.h"
#include "engine/settings/settings.h"
#include "gui/aac_page.h"
#include "gui/banner.h"
#include "gui/display_view.h"
#include "gui/effects_window.h"
#include "gui/gui_ports.h"
#include "gui/media_page.h"
#include "gui/mp3_page.h"
#include "gui/output_manager_window.h"
#include "gui/skin_dialog.h"
#include "gui/texts.h"
#include "gui/title_bar.h"
#include "gui/wma_page.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QDialog>
#include <QDragEnterEvent>
#include <QEventLoop>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>
#include <QPushButton>
#include <QSizeGrip>
#include <QSlider>
#include <QStyle>
#include <QTabWidget>
#include <QThread>
#include <QTimer>
#include <QToolTip>
#include <QUrl>
#include <QVBoxLayout>

#include <chrono>
#include <cstdio>

namespace kestrel::gui {

std::function<void(const QString&)> MainWindow::openHelpPage;
std::function<void(int)> MainWindow::pause = [](int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
};

namespace {

QSlider* slider(int lo, int hi, int start) {
    auto* s = new QSlider(Qt::Horizontal);
    s->setRange(lo, hi);
    s->setValue(start);
    return s;
}

QIcon standardIcon(QStyle::StandardPixmap p) {
    return QApplication::style()->standardIcon(p);
}

} // namespace

MainWindow::MainWindow(QWidget* parent) : QWidget(parent) {
    setObjectName("kestrelMain");
    setWindowTitle(QString::fromUtf8(text::kWindowTitle));
    setWindowFlag(Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground);
    setAcceptDrops(true);
    // The transport buttons show only icons: their tips are shown whether the
    // window has the focus or not.
    setAttribute(Qt::WA_AlwaysShowToolTips);
    buildControls();
}

MainWindow::~MainWindow() {
    if (timer_) timer_->stop();
    setDisplayPainter(nullptr);
    if (fastThread_.joinable()) {
        running = false;
        fastThread_.join();
    }
    if (windowPort_) setWindowPort(nullptr);
    if (messagePort_) setMessagePort(nullptr);
}

QPushButton* MainWindow::button(int id, const char* tip, const QIcon& icon, const char* label) {
    auto* b = new QPushButton(icon, label ? QString::fromUtf8(label) : QString());
    if (tip) b->setToolTip(QString::fromUtf8(tip));
    b->installEventFilter(this);
    controls_[id] = b;
    return b;
}

void MainWindow::buildControls() {
    titleBar_ = new TitleBar(QString::fromUtf8(text::kWindowTitle), this);
    connect(titleBar_, &TitleBar::request, this, [this](int v) { notify(kNotifyTitleBar, v); });

    tabs_ = new QTabWidget;
    controls_[kTab] = tabs_;
    mediaPage_ = new MediaPage;
    mp3Page_ = new Mp3Page;
    wmaPage_ = new WmaPage;
    aacPage_ = new AacPage;
    tabs_->setIconSize(QSize(32, 32));
    tabs_->addTab(mediaPage_, standardIcon(QStyle::SP_DirIcon), QString::fromUtf8(text::kTabList));
    tabs_->addTab(mp3Page_, standardIcon(QStyle::SP_MediaVolume), QString::fromUtf8(text::kTabMp3));
    tabs_->addTab(wmaPage_, standardIcon(QStyle::SP_DriveCDIcon), QString::fromUtf8(text::kTabWma));
    tabs_->addTab(aacPage_, standardIcon(QStyle::SP_DriveDVDIcon),
                  QString::fromUtf8(text::kTabMp4));
    controls_[kAddButton] = mediaPage_->add;
    controls_[kDeleteButton] = mediaPage_->remove;
    controls_[kSaveButton] = mediaPage_->save;
    controls_[kRefreshButton] = mediaPage_->refresh;
    for (QWidget* w : {mediaPage_->add, mediaPage_->remove, mediaPage_->save, mediaPage_->refresh})
        w->installEventFilter(this);

    display_ = new DisplayView;
    display_->setWindowTitle(QString::fromUtf8(text::kCaption));
    controls_[kDisplayBox] = display_;
    meterLeft_ = new LevelMeter(true);
    meterRight_ = new LevelMeter(false);
    controls_[kLevelLeft] = meterLeft_;
    controls_[kLevelRight] = meterRight_;
    banner_ = new Banner;
    banner_->setFixedHeight(64);
    controls_[kBanner] = banner_;

    status_ = new QLabel(QString::fromUtf8(text::kWelcome));
    status_->setMinimumWidth(200);
    controls_[kStatusLine] = status_;
    clock_ = new QLabel("00:00:00");
    clock_->setAlignment(Qt::AlignCenter);
    QFont cf = clock_->font();
    cf.setPointSize(cf.pointSize() + 4);
    cf.setBold(true);
    clock_->setFont(cf);
    controls_[kClock] = clock_;

    position_ = slider(1, 65500, 32000);
    position_->setToolTip(QString::fromUtf8(text::kTipPosition));
    controls_[kPositionSlider] = position_;
    progress_ = new QProgressBar;
    progress_->setRange(0, 1000);
    progress_->setValue(500);
    progress_->setTextVisible(false);
    controls_[kProgressBar] = progress_;
    auto* volL = slider(1, 65500, 32000);
    auto* volR = slider(1, 65500, 32000);
    auto* gainL = slider(0, 80, kGainSliderNeutral);
    auto* gainR = slider(0, 80, kGainSliderNeutral);
    volL->setToolTip(QString::fromUtf8(text::kTipVolumeLeft));
    volR->setToolTip(QString::fromUtf8(text::kTipVolumeRight));
    gainL->setToolTip(QString::fromUtf8(text::kTipGainLeft));
    gainR->setToolTip(QString::fromUtf8(text::kTipGainRight));
    controls_[kVolumeLeft] = volL;
    controls_[kVolumeRight] = volR;
    controls_[kGainLeft] = gainL;
    controls_[kGainRight] = gainR;
    for (QWidget* w :
         {static_cast<QWidget*>(position_), static_cast<QWidget*>(volL),
          static_cast<QWidget*>(volR), static_cast<QWidget*>(gainL), static_cast<QWidget*>(gainR)})
        w->installEventFilter(this);

    outputType_ = new QComboBox;
    for (const char* t : text::kOutputTypes)
        outputType_->addItem(QString::fromUtf8(t));
    outputType_->setToolTip(QString::fromUtf8(text::kTipOutputType));
    outputType_->installEventFilter(this);
    controls_[kOutputTypeList] = outputType_;

    auto* convert =
        button(kConvertButton, text::kTipConvert, standardIcon(QStyle::SP_DialogSaveButton));
    auto* pauseRec = button(kPauseRecordButton, text::kTipPauseRecord,
                            standardIcon(QStyle::SP_MediaSeekForward));
    auto* play = button(kPlayButton, text::kTipPlay, standardIcon(QStyle::SP_MediaPlay));
    auto* pauseB = button(kPauseButton, text::kTipPause, standardIcon(QStyle::SP_MediaPause));
    auto* stop = button(kStopButton, text::kTipStop, standardIcon(QStyle::SP_MediaStop));
    auto* fast = button(kFastButton, text::kTipFast, standardIcon(QStyle::SP_MediaSkipForward));
    auto* sound = button(kSoundSwitch, text::kTipSoundSwitch, standardIcon(QStyle::SP_MediaVolume));
    auto* dispSw =
        button(kDisplaySwitch, text::kTipDisplaySwitch, standardIcon(QStyle::SP_ComputerIcon));
    sound->setCheckable(true);
    dispSw->setCheckable(true);
    auto* effects =
        button(kEffectsButton, text::kTipEffects, standardIcon(QStyle::SP_FileDialogDetailedView));
    auto* style =
        button(kDisplayStyleButton, text::kTipDisplayStyle, standardIcon(QStyle::SP_BrowserReload));
    auto* widen = button(kWidenButton, text::kTipWiden, standardIcon(QStyle::SP_ArrowRight));
    auto* narrow = button(kNarrowButton, text::kTipNarrow, standardIcon(QStyle::SP_ArrowLeft));
    auto* exitB = button(kExitButton, text::kTipExit, standardIcon(QStyle::SP_DialogCloseButton));
    auto* about = button(kAboutButton, text::kTipAbout, QIcon(), text::kAbout);
    auto* help = button(kHelpButton, text::kTipHelp, QIcon(), text::kHelp);
    auto* contact = button(kContactLink, text::kTipContact, QIcon(), text::kContact);
    auto* support = button(kSupportLink, text::kTipSupport, QIcon(), text::kSupport);
    for (QPushButton* link : {contact, support})
        link->setFlat(true);

    // Layout.
    auto* top = new QHBoxLayout;
    top->addWidget(tabs_, 3);
    auto* side = new QVBoxLayout;
    side->addWidget(display_, 1);
    side->addWidget(meterLeft_);
    side->addWidget(meterRight_);
    side->addWidget(banner_);
    top->addLayout(side, 2);

    auto* transport = new QHBoxLayout;
    for (QPushButton* b : {convert, pauseRec, play, pauseB, stop, fast, sound, dispSw, effects,
                           style, widen, narrow})
        transport->addWidget(b);
    transport->addStretch(1);
    transport->addWidget(outputType_);

    auto* sliders = new QGridLayout;
    sliders->addWidget(volL, 0, 0);
    sliders->addWidget(volR, 0, 1);
    sliders->addWidget(gainL, 1, 0);
    sliders->addWidget(gainR, 1, 1);
    sliders->addWidget(clock_, 0, 2, 2, 1);

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(status_, 1);
    for (QPushButton* b : {about, help, contact, support, exitB})
        bottom->addWidget(b);
    // The frameless window is resized at its lower right corner.
    bottom->addWidget(new QSizeGrip(this), 0, Qt::AlignBottom | Qt::AlignRight);

    auto* body = new QVBoxLayout;
    body->setContentsMargins(8, 4, 8, 8);
    body->addLayout(top, 1);
    body->addWidget(position_);
    body->addWidget(progress_);
    body->addLayout(transport);
    body->addLayout(sliders);
    body->addLayout(bottom);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    outer->addWidget(titleBar_);
    outer->addLayout(body, 1);
    resize(980, 640);

    // Commands.
    connect(mediaPage_->add, &QPushButton::clicked, this, &MainWindow::addCommand);
    connect(mediaPage_->remove, &QPushButton::clicked, this, &MainWindow::deleteCommand);
    connect(mediaPage_->save, &QPushButton::clicked, this, &MainWindow::saveCommand);
    connect(mediaPage_->refresh, &QPushButton::clicked, this, [this] {
        refreshMediaList();
        mediaPage_->refreshRows();
    });
    connect(play, &QPushButton::clicked, this, &MainWindow::playCommand);
    connect(pauseB, &QPushButton::clicked, this, [] { pauseCommand(); });
    connect(stop, &QPushButton::clicked, this, [] { stopCommand(); });
    connect(convert, &QPushButton::clicked, this, &MainWindow::convertCommand);
    connect(pauseRec, &QPushButton::clicked, this, [] { recordToggleCommand(); });
    connect(fast, &QPushButton::clicked, this, &MainWindow::fastCommand);
    connect(exitB, &QPushButton::clicked, this, [this] { exitCommand(); });
    connect(sound, &QPushButton::clicked, this, [](bool checked) { soundSwitchCommand(checked); });
    connect(dispSw, &QPushButton::clicked, this, [this](bool checked) {
        displaySwitchCommand(checked);
        if (checked && running.load()) display_->clearPictures();
    });
    connect(effects, &QPushButton::clicked, this, [] { effectsWindowCommand(); });
    connect(style, &QPushButton::clicked, this, [this] {
        advanceDisplayMode();
        applySkin();
    });
    connect(widen, &QPushButton::clicked, this, [] { spectrumZoomIn(); });
    connect(narrow, &QPushButton::clicked, this, [] { spectrumZoomOut(); });
    connect(about, &QPushButton::clicked, this, &MainWindow::showAbout);
    connect(help, &QPushButton::clicked, this, [] { openHelpPage("index.html"); });
    connect(contact, &QPushButton::clicked, this, [] { openHelpPage("contact.html"); });
    connect(support, &QPushButton::clicked, this, [] { openHelpPage("update.html"); });
    connect(outputType_, &QComboBox::activated, this, [](int i) { settings.output_type = i; });
    connect(position_, &QSlider::sliderPressed, this, [this] { positionDragging_ = true; });
    connect(position_, &QSlider::sliderMoved, this, [](int v) { dragCommand(v); });
    connect(position_, &QSlider::sliderReleased, this, [this] {
        positionDragging_ = false;
        seekCommand(position_->value());
    });
    connect(volL, &QSlider::valueChanged, this, [](int v) { volumeSliderCommand(true, v); });
    connect(volR, &QSlider::valueChanged, this, [](int v) { volumeSliderCommand(false, v); });
    connect(gainL, &QSlider::valueChanged, this, [](int v) { gainSliderCommand(true, v); });
    connect(gainR, &QSlider::valueChanged, this, [](int v) { gainSliderCommand(false, v); });

    outputManager_ = new OutputManagerWindow(this);
    outputManager_->hide();
    skinDialog_ = new SkinDialog(this);
    skinDialog_->hide();
    connect(skinDialog_, &SkinDialog::notify, this, [this](int code, int v) { notify(code, v); });

    effects_ = new EffectsWindow(this);
    effects_->hide();

    wmaDialog_ = new QDialog(this);
    wmaDialog_->setWindowTitle(QString::fromUtf8(text::kWmaEncodingTitle));
    auto* wl = new QVBoxLayout(wmaDialog_);
    wmaBar_ = new QProgressBar;
    wmaBar_->setRange(0, 100);
    wmaBar_->setValue(0);
    wmaBar_->setTextVisible(false); // a figure over the bar would cross its two colours
    wl->addWidget(new QLabel(QString::fromUtf8(text::kWmaEncodingText)));
    wl->addWidget(wmaBar_);
    wmaDialog_->hide();

    timer_ = new QTimer(this);
    timer_->setInterval(250);
    connect(timer_, &QTimer::timeout, this, &MainWindow::timerTick);
}

void MainWindow::fillFromSettings() {
    mp3Page_->fill();
    wmaPage_->fill();
    aacPage_->fill();
    outputType_->setCurrentIndex(
        settings.output_type >= 0 && settings.output_type <= 9 ? settings.output_type : 1);
    mediaPage_->refreshRows();
    applySkin();
}

void MainWindow::start() {
    outputFormat = EffectiveOutputFormat{};
    fillFromSettings();
    sound_on = true;
    display_on = true;
    setCheck(kSoundSwitch, false);
    setCheck(kDisplaySwitch, false);
    windowPort_ = std::make_unique<GuiWindowPort>(*this, this);
    messagePort_ = std::make_unique<GuiMessagePort>(this);
    // At the end of a conversion the manager takes the job's output records.
    connect(windowPort_.get(), &GuiWindowPort::wentIdle, outputManager_, [this] {
        std::vector<ManagedOutput> records;
        for (const auto& r : mainJob().outputRecords)
            records.push_back(managedOutput(r));
        outputManager_->jobEnded(records);
    });
    setWindowPort(windowPort_.get());
    setMessagePort(messagePort_.get());
    // The display thread draws into the display box from now on.
    meters_on = true;
    spectrum_width = display_->width();
    setDisplayPainter(display_);
    displayThreadStart();
    timer_->start();
    started_ = true;
}

// ---- ControlSurface ------------------------------------------------------

void MainWindow::setText(int id, const std::string& t) {
    if (id == kStatusLine) status_->setText(QString::fromStdString(t));
}

void MainWindow::setPos(int id, int pos) {
    if (id == kPositionSlider && positionDragging_) return;
    if (id == kProgressBar) {
        progress_->setValue(pos);
        return;
    }
    if (id == kWmaProgressBar) {
        wmaBar_->setValue(pos);
        return;
    }
    if (auto* s = qobject_cast<QSlider*>(control(id))) {
        QSignalBlocker b(s);
        s->setValue(pos);
    }
}

void MainWindow::setRange(int id, int lo, int hi) {
    if (id == kProgressBar) {
        progress_->setRange(lo, hi);
        return;
    }
    if (id == kWmaProgressBar) {
        wmaBar_->setRange(lo, hi);
        return;
    }
    if (auto* s = qobject_cast<QSlider*>(control(id))) {
        QSignalBlocker b(s);
        s->setRange(lo, hi);
    }
}

void MainWindow::enable(int id, bool on) {
    if (QWidget* w = control(id)) w->setEnabled(on);
}

void MainWindow::setCheck(int id, bool pressed) {
    if (auto* b = qobject_cast<QPushButton*>(control(id))) b->setChecked(pressed);
}

void MainWindow::notify(int code, long value) {
    switch (code) {
    case kNotifyLevels: {
        const int l = meterReportLeft(value), r = meterReportRight(value);
        if (levelReports_++ % 9 == 0) {
            meterLeft_->setFigure(QString::fromStdString(meterFigure(l)));
            meterRight_->setFigure(QString::fromStdString(meterFigure(r)));
        }
        meterLeft_->setLevel(l);
        meterRight_->setLevel(r);
        break;
    }
    case kNotifyClock: {
        const long s = value < 0 ? 0 : value;
        clock_->setText(QString::asprintf("%02ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60));
        break;
    }
    case kNotifyStop:
        if (value == 98) stopCommand();
        break;
    case kNotifyWmaProgress:
        if (value == 0)
            wmaDialog_->show();
        else
            wmaDialog_->hide();
        break;
    case kNotifyApplyAlpha:
        applyAlpha();
        break;
    case kNotifyApplySkin:
        applySkin();
        break;
    case kNotifySkinAlpha:
        skinDialog_->setWindowOpacity(value / 255.0);
        break;
    case kNotifyPlayRequest:
        if (!running.load()) playRequest(static_cast<int>(value));
        break;
    case kNotifyTitleBar:
        titleBarRequest(value);
        break;
    case kNotifyWmEnded:
        // The Windows Media reader's end of playback.
        if (value == kWmEndedValue) {
            status_->setText(QString::fromUtf8(kestrel::text::kWmPlayEnded));
            status_->update();
        }
        break;
    default:
        break;
    }
}

// ---- Commands ------------------------------------------------------------

QWidget* MainWindow::control(int id) const {
    auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : it->second;
}

QString MainWindow::statusText() const {
    return status_->text();
}

QString MainWindow::clockText() const {
    return clock_->text();
}

void MainWindow::applyPages(bool write) {
    mp3Page_->apply(write);
    wmaPage_->apply(write);
    aacPage_->apply(write);
}

void MainWindow::addCommand() {
    // Several files at once, each added as the one file of the command.
    std::unique_ptr<QFileDialog> dialog(makeAddDialog(this));
    if (dialog->exec() == QDialog::Accepted)
        for (const QString& path : dialog->selectedFiles())
            mediaPage_->addFile(path);
    update();
}

void MainWindow::dropFiles(const QStringList& paths) {
    for (const QString& p : paths) {
        if (p.size() > 1) {
            mediaPage_->addFile(p);
            return;
        }
    }
}

void MainWindow::openFiles(const QStringList& paths) {
    for (const QString& p : paths) {
        const QUrl url(p);
        dropFiles({url.isLocalFile() ? url.toLocalFile() : p});
    }
}

void MainWindow::deleteCommand() {
    mediaPage_->syncSelection();
    if (deleteSelectedRows() >= 0) mediaPage_->refreshRows();
}

void MainWindow::saveCommand() {
    mediaPage_->syncSelection();
    saveMediaList();
    applyPages(true);
    derive_output_format();
    sound_on = settings.conversion_mode != 2;
    setCheck(kSoundSwitch, !sound_on.load());
}

void MainWindow::playCommand() {
    if (running.load()) return;
    if (startsBlockedByManager()) return;
    mediaPage_->syncSelection();
    int index = mediaPage_->firstSelected();
    if (index < 0) index = 0;
    if (running.load()) {
        showMessage(caption::kMain, formatText(kestrel::text::kPlayBusy, current.displayName));
        return;
    }
    applyPages(false);
    displayThreadStart();
    waitConversion();
    notify(kNotifyPlayRequest, index);
}

bool MainWindow::startsBlockedByManager() {
    if (!outputManager_->manager().shown.load()) return false;
    status_->setText(QString::fromUtf8(kestrel::text::manager::kStartsBlocked));
    return true;
}

void MainWindow::convertCommand() {
    if (running.load()) return;
    if (startsBlockedByManager()) return;
    mediaPage_->syncSelection();
    applyPages(false);
    displayThreadStart();
    waitConversion();
    if (fastThread_.joinable()) fastThread_.join();
    outputManager_->hide();
    if (start_conversion() >= 0) {
        conversionStarted_ = true;
        outputManager_->jobStarted();
    }
}

void MainWindow::fastCommand() {
    if (running.load()) return;
    mediaPage_->syncSelection();
    int index = -1;
    for (size_t i = 0; i < mediaList.rows.size(); ++i)
        if (mediaList.rows[i].selected) index = static_cast<int>(i);
    if (index < 0) {
        showMessage(caption::kPlay, kestrel::text::kFastNoSelection);
        return;
    }
    displayThreadStart();
    applyPages(false);
    derive_output_format();
    const ListRow& row = mediaList.rows[static_cast<size_t>(index)];
    FastSource src;
    static_cast<EntryFacts&>(src) = entryFacts(row);
    src.savePath = settings.save_path;
    sound_on = true;
    display_on = true;
    setCheck(kSoundSwitch, false);
    setCheck(kDisplaySwitch, false);
    const EffectiveOutputFormat& f = outputFormat;
    if (orvosoundmixLoaded()) {
        orvosoundmix.orvomix_setdisp(0);
        orvosoundmix.orvomix_init(f.out_rate, f.out_channels, 0);
        orvosoundmix.orvomix_datarefresh();
    }
    converting = false;
    if (checkFastConversionKind(mediaKind(src.kind)) < 0) {
        update();
        return;
    }
    if (fastThread_.joinable()) fastThread_.join();
    waitConversion();
    fastThread_ = std::thread([src] { fast_conversion_thread(src); });
}

bool MainWindow::exitCommand() {
    if (running.load()) {
        if (askYesNo(caption::kMain, text::kExitQuestion, MsgAnswer::No) != MsgAnswer::Yes)
            return false;
        display_thread_running = false;
        running = false;
        paused = false;
        pause(300);
    }
    endWindow();
    return true;
}

void MainWindow::endWindow() {
    ending_ = true;
    timer_->stop();
    setDisplayPainter(nullptr);
    displayThreadStop();
    // The workers noticed the cleared flags; wait for them to end.
    while (ConversionJob::anyActive() || playbackActive())
        pause(20);
    waitConversion();
    waitPlayback();
    if (fastThread_.joinable()) fastThread_.join();
    if (orvosoundmixLoaded()) orvosoundmix.orvomix_close();
    banner_->reset();
    meterWindowFree();
    skinDialog_->close();
    effects_->close();
    outputManager_->close();
    if (conversionStarted_ && openHelpPage) openHelpPage("update.html");
    pause(300);
    close();
}

void MainWindow::closeEvent(QCloseEvent* e) {
    if (ending_ || !started_) {
        e->accept();
        return;
    }
    // The title bar's close button and the window manager's close: the exit
    // command.
    e->ignore();
    exitCommand();
}

void MainWindow::keyPressEvent(QKeyEvent* e) {
    // Escape ends the window without the exit command's steps, as the
    // dialog's cancel did; keep the program running instead while a worker
    // is active.
    if (e->key() == Qt::Key_Escape) {
        exitCommand();
        return;
    }
    QWidget::keyPressEvent(e);
}

void MainWindow::dragEnterEvent(QDragEnterEvent* e) {
    if (e->mimeData()->hasUrls()) e->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* e) {
    QStringList paths;
    for (const QUrl& u : e->mimeData()->urls())
        paths << u.toLocalFile();
    dropFiles(paths);
    e->acceptProposedAction();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* e) {
    // Tool tips only while nothing plays or converts.
    if (e->type() == QEvent::ToolTip && running.load()) {
        QToolTip::hideText();
        return true;
    }
    return QWidget::eventFilter(watched, e);
}

void MainWindow::timerTick() {
    if (!running.load()) {
        if (banner_->state().ticks % 2 == 0) {
            clock_->setText(QDateTime::currentDateTime().toString("HH:mm:ss"));
            meterLeft_->clear();
            meterRight_->clear();
        }
    }
    if (!display_on.load() || !running.load() || paused.load()) banner_->tick();
}

// ---- Skin ----------------------------------------------------------------

void MainWindow::applySkin() {
    const SkinColours c = skinColours(settings.skin_colour);
    // The whole program's look: the dialogs, message boxes and open lists
    // are windows of their own.
    qApp->setStyleSheet(skinStyleSheet(c));
    display_->setColours(c, settings.display_mode);
    meterLeft_->setColours(c);
    meterRight_->setColours(c);
    banner_->setColours(c, settings.display_mode);
    titleBar_->setColours(c, settings.title_style);
    mediaPage_->setListColours(c.textOnDark, c.dark);
    update();
}

void MainWindow::applyAlpha() {
    // Above 253 only the rounded corners are cut; 120..253 that opacity.
    const int a = settings.window_alpha;
    setWindowOpacity(a > 253 ? 1.0 : a / 255.0);
}

void MainWindow::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const SkinColours c = skinColours(settings.skin_colour);
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 12, 12);
    p.fillPath(path, c.base);
    const int border = settings.border_style;
    if (border > 0) {
        p.setPen(QPen(shade(c.base, 20 * border), 1 + border % 3));
        p.drawPath(path);
    }
}

void MainWindow::mousePressEvent(QMouseEvent* e) {
    dragFrom_ = e->globalPosition().toPoint() - frameGeometry().topLeft();
}

void MainWindow::mouseMoveEvent(QMouseEvent* e) {
    if (e->buttons() & Qt::LeftButton) move(e->globalPosition().toPoint() - dragFrom_);
}

void MainWindow::titleBarRequest(long value) {
    switch (value) {
    case 1:
        exitCommand();
        break;
    case 2:
    case 4:
        toggleSkinDialog();
        break;
    case 3:
        showAbout();
        break;
    case 5:
        showNormal();
        break;
    case 6:
        resize(size() * 1.1);
        break;
    case 7:
        showMinimized();
        break;
    case 8:
        showMaximized();
        break;
    case 9:
        showAboutBox();
        break;
    default:
        break;
    }
}

bool MainWindow::attachEffects() {
    return orvosoundmixLoaded() && effects_->attach();
}

void MainWindow::toggleSkinDialog() {
    if (skinDialog_->isVisible()) {
        skinDialog_->hide();
        return;
    }
    skinDialog_->showFor(settings.skin_colour, settings.window_alpha);
    notify(kNotifySkinAlpha, 255);
}

void MainWindow::showAbout() {
    AboutDialog dlg(this);
    dlg.exec();
}

void MainWindow::showAboutBox() {
    AboutBox box(this);
    box.exec();
}

} // namespace kestrel::gui
