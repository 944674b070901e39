#include "gui/output_manager_window.h"

#include "engine/convert/conversion_driver.h"
#include "engine/core/text_format.h"
#include "engine/playback/texts_output_manager.h"
#include "gui/gui_ports.h"
#include "platform/ports.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace kestrel::gui {

namespace mt = kestrel::text::manager;

ManagedOutput managedOutput(const OutputRecord& r) {
    ManagedOutput m;
    m.duration = r.duration;
    m.sourcePath = r.sourcePath;
    m.outputType = r.outputType;
    m.outputPath = r.outputPath;
    m.outRate = r.outRate;
    m.outChannels = r.outChannels;
    m.mpegVersion = r.mpegVersion;
    m.pcmBytes = r.pcmBytes;
    return m;
}

// The player's reports, carried onto the window's thread.
class OutputManagerWindow::Events : public OutputManagerEvents {
  public:
    explicit Events(OutputManagerWindow* w) : w_(w) {}
    void statusText(const std::string& text) override {
        QString t = QString::fromStdString(text);
        onGuiThread(w_, [w = QPointer<OutputManagerWindow>(w_), t] {
            if (w) w->status_->setText(t);
        });
    }
    void progress(int second, int total) override {
        onGuiThread(w_, [w = QPointer<OutputManagerWindow>(w_), second, total] {
            if (!w) return;
            w->progress_->setRange(0, total > 0 ? total : 1);
            w->progress_->setValue(second);
        });
    }
    void openFailed() override {
        onGuiThread(w_, [w = QPointer<OutputManagerWindow>(w_)] {
            if (w) w->setButtons(true, false, false);
        });
    }
    void ended() override {
        onGuiThread(w_, [w = QPointer<OutputManagerWindow>(w_)] {
            if (w) w->progress_->setValue(0);
        });
    }

  private:
    OutputManagerWindow* w_;
};

OutputManagerWindow::OutputManagerWindow(QWidget* parent, PcmDevice* device)
    : QWidget(parent, Qt::Window), manager_(std::make_unique<OutputManager>(device)),
      events_(std::make_unique<Events>(this)) {
    setWindowFlag(Qt::WindowStaysOnTopHint);
    setObjectName("kestrelOutputManager");
    setAttribute(Qt::WA_StyledBackground); // the skin's background
    setWindowTitle(QString::fromUtf8(mt::kTitle));
    auto* layout = new QVBoxLayout(this);
    list_ = new QTreeWidget;
    list_->setRootIsDecorated(false);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setHeaderLabels(
        {QString::fromUtf8(mt::kColumnNumber), QString::fromUtf8(mt::kColumnSource),
         QString::fromUtf8(mt::kColumnOutput), QString::fromUtf8(mt::kColumnTime)});
    list_->setColumnWidth(0, 44);
    list_->setColumnWidth(1, 300);
    list_->setColumnWidth(2, 300);
    list_->setColumnWidth(3, 56);
    layout->addWidget(list_);
    path_ = new QLabel;
    status_ = new QLabel;
    progress_ = new QProgressBar;
    progress_->setRange(0, 1);
    progress_->setValue(0);
    progress_->setTextVisible(false); // the status line tells the time
    layout->addWidget(path_);
    layout->addWidget(status_);
    layout->addWidget(progress_);
    auto* buttons = new QHBoxLayout;
    auto button = [&](const char* label, const char* tip) {
        auto* b = new QPushButton(QString::fromUtf8(label));
        b->setToolTip(QString::fromUtf8(tip));
        buttons->addWidget(b);
        return b;
    };
    play_ = button(mt::kPlay, mt::kPlayTip);
    stop_ = button(mt::kStop, mt::kStopTip);
    delete_ = button(mt::kDelete, mt::kDeleteTip);
    back_ = button(mt::kBack, mt::kBackTip);
    layout->addLayout(buttons);
    setButtons(false, false, false);
    // Wide enough for its four columns side by side.
    int columns = 0;
    for (int i = 0; i < list_->columnCount(); ++i)
        columns += list_->columnWidth(i);
    resize(columns + 2 * list_->frameWidth() + layout->contentsMargins().left() +
               layout->contentsMargins().right() + 4,
           360);

    connect(list_, &QTreeWidget::itemClicked, this,
            [this](QTreeWidgetItem* item, int) { selectRow(list_->indexOfTopLevelItem(item)); });
    connect(list_, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item, int) {
        selectRow(list_->indexOfTopLevelItem(item));
        playCommand();
    });
    connect(play_, &QPushButton::clicked, this, &OutputManagerWindow::playCommand);
    connect(stop_, &QPushButton::clicked, this, &OutputManagerWindow::stopCommand);
    connect(delete_, &QPushButton::clicked, this, &OutputManagerWindow::deleteCommand);
    connect(back_, &QPushButton::clicked, this, &OutputManagerWindow::backCommand);
}

OutputManagerWindow::~OutputManagerWindow() {
    manager_->stop();
    manager_->wait();
}

void OutputManagerWindow::setButtons(bool play, bool stop, bool del) {
    play_->setEnabled(play);
    stop_->setEnabled(stop);
    delete_->setEnabled(del);
}

void OutputManagerWindow::jobStarted() {
    jobPending_ = true;
    setButtons(false, false, false);
    manager_->setRecords({});
    hide();
}

void OutputManagerWindow::jobEnded(const std::vector<ManagedOutput>& records) {
    if (!jobPending_) return;
    jobPending_ = false;
    manager_->setRecords(records);
    if (records.empty()) return;
    const QString last = QString::fromStdString(records.back().outputPath);
    setWindowTitle(last);
    path_->setText(last);
    status_->setText(QString::fromUtf8(mt::kJobDone));
    if (isHidden()) show();
    refill();
}

void OutputManagerWindow::refill() {
    list_->clear();
    const auto& records = manager_->records();
    for (size_t i = 0; i < records.size(); ++i) {
        const ManagedOutput& r = records[i];
        auto* item =
            new QTreeWidgetItem({QString::number(i), QString::fromStdString(r.sourcePath),
                                 QString::fromStdString(r.outputPath),
                                 QString::asprintf(mt::kSeconds, static_cast<int>(r.duration))});
        item->setCheckState(0, Qt::Unchecked);
        list_->addTopLevelItem(item);
    }
    selected_ = -1;
    setButtons(false, false, false);
}

void OutputManagerWindow::selectRow(int row) {
    if (row < 0 || row >= list_->topLevelItemCount()) return;
    for (int i = 0; i < list_->topLevelItemCount(); ++i)
        list_->topLevelItem(i)->setCheckState(0, i == row ? Qt::Checked : Qt::Unchecked);
    list_->setCurrentItem(list_->topLevelItem(row));
    selected_ = row;
    setButtons(true, true, true);
    path_->setText(
        QString::fromStdString(manager_->records()[static_cast<size_t>(row)].outputPath));
}

void OutputManagerWindow::playCommand() {
    if (selected_ < 0 || manager_->playing()) return;
    manager_->play(selected_, events_.get());
}

void OutputManagerWindow::stopCommand() {
    manager_->stop();
}

void OutputManagerWindow::deleteCommand() {
    if (manager_->playing()) {
        showMessage(mt::kCaption, mt::kDeleteBusy);
        return;
    }
    for (int i = list_->topLevelItemCount() - 1; i >= 0; --i) {
        if (list_->topLevelItem(i)->checkState(0) != Qt::Checked) continue;
        const std::string path = manager_->records()[static_cast<size_t>(i)].outputPath;
        if (askYesNo(mt::kCaption, formatText(mt::kDeleteAsk, path), MsgAnswer::No) !=
            MsgAnswer::Yes)
            continue;
        int rc = manager_->deleteRecord(i);
        if (rc == kManagerBusy) {
            showMessage(mt::kCaption, mt::kDeleteBusy);
            return;
        }
        if (rc < 0) {
            showMessage(mt::kCaption, formatText(mt::kDeleteFailed, path));
            continue;
        }
        delete list_->takeTopLevelItem(i);
        selected_ = -1;
        path_->clear();
    }
    // The position column follows the table.
    for (int i = 0; i < list_->topLevelItemCount(); ++i)
        list_->topLevelItem(i)->setText(0, QString::number(i));
    if (manager_->records().empty()) hide();
    if (selected_ < 0) setButtons(false, false, false);
}

void OutputManagerWindow::backCommand() {
    hide();
}

void OutputManagerWindow::showEvent(QShowEvent* e) {
    manager_->shown = true;
    refill();
    QWidget::showEvent(e);
}

void OutputManagerWindow::hideEvent(QHideEvent* e) {
    manager_->shown = false;
    QWidget::hideEvent(e);
}

} // namespace kestrel::gui
