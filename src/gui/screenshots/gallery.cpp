#include "screenshots/gallery.h"

#include "engine/core/captions.h"
#include "engine/catalogue/texts.h"
#include "engine/settings/settings.h"
#include "gui/aac_page.h"
#include "gui/effects_window.h"
#include "gui/main_window.h"
#include "gui/media_page.h"
#include "gui/mp3_page.h"
#include "gui/output_manager_window.h"
#include "gui/page_texts.h"
#include "gui/skin_dialog.h"
#include "gui/texts.h"
#include "gui/wma_page.h"

#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QToolTip>
#include <QTreeWidget>

#include <memory>

namespace kestrel::gui {

double settleScale = 1.0;

void settle(int ms) {
    QEventLoop loop;
    QTimer::singleShot(static_cast<int>(ms * settleScale), &loop, &QEventLoop::quit);
    loop.exec();
}

namespace {

// The drop-down lists of a widget, in the order a user meets them.
QList<QComboBox*> comboBoxesOf(QWidget* w) {
    QList<QComboBox*> out;
    for (QComboBox* c : w->findChildren<QComboBox*>())
        if (c->isVisibleTo(w)) out << c;
    return out;
}

void openCombo(QComboBox* c, const QString& name, QWidget* under,
               const std::function<void(const Scene&)>& take) {
    c->showPopup();
    settle(150);
    QWidget* popup = c->view()->window();
    take({name, popup, under});
    c->hidePopup();
    settle(50);
}

QWidget* toolTipWindow() {
    for (QWidget* t : QApplication::topLevelWidgets())
        if (t->inherits("QTipLabel") && t->isVisible()) return t;
    return nullptr;
}

} // namespace

void walkGallery(MainWindow& w, const QString& folder, const std::string& output,
                 const std::function<void(const Scene&)>& take) {
    w.show();
    w.raise();
    settle(200);
    if (w.mediaPage()->list->topLevelItemCount() > 0)
        w.mediaPage()->list->topLevelItem(0)->setSelected(true);
    const char* pages[4] = {"page-list", "page-mp3", "page-wma", "page-mp4"};
    for (int i = 0; i < 4; ++i) {
        w.tabs()->setCurrentIndex(i);
        settle(150);
        take({pages[i], &w, nullptr});
    }
    // Every drop-down list opened: the output type, then each page's.
    w.tabs()->setCurrentIndex(0);
    settle(50);
    openCombo(qobject_cast<QComboBox*>(w.control(kOutputTypeList)), "combo-output-type", &w, take);
    for (int i = 1; i < 4; ++i) {
        w.tabs()->setCurrentIndex(i);
        settle(100);
        int n = 0;
        for (QComboBox* c : comboBoxesOf(w.tabs()->widget(i))) {
            if (!c->isEnabled()) continue;
            openCombo(c, QStringLiteral("combo-%1-%2").arg(pages[i] + 5).arg(++n), &w, take);
        }
    }
    w.tabs()->setCurrentIndex(0);
    settle(100);

    // A transport button's tip.
    QWidget* play = w.control(kPlayButton);
    QToolTip::showText(play->mapToGlobal(QPoint(play->width() / 2, play->height())),
                       play->toolTip(), play);
    settle(200);
    if (QWidget* tip = toolTipWindow()) take({"tooltip", tip, &w});
    QToolTip::hideText();

    // The add dialog on a folder of media files, and its type list.
    {
        std::unique_ptr<QFileDialog> add(makeAddDialog(&w));
        add->setOption(QFileDialog::DontUseNativeDialog);
        add->setDirectory(folder);
        add->resize(720, 440);
        add->show();
        settle(600);
        take({"add-dialog", add.get(), nullptr});
        if (auto* types = add->findChild<QComboBox*>(QStringLiteral("fileTypeCombo")))
            openCombo(types, "add-dialog-types", add.get(), take);
        add->hide();
    }

    // The output manager after a job, idle and with its output chosen.
    OutputManagerWindow* manager = w.outputManager();
    ManagedOutput record;
    record.duration = 10;
    record.sourcePath = "/home/user/Music/klang.mp3";
    record.outputPath = output;
    manager->jobStarted();
    manager->jobEnded({record});
    settle(200);
    take({"output-manager", manager, nullptr});
    manager->selectRow(0);
    settle(100);
    take({"output-manager-chosen", manager, nullptr});
    manager->playCommand();
    settle(1200);
    take({"output-manager-playing", manager, nullptr});
    manager->stopCommand();
    settle(300);
    manager->hide();

    // The tool windows and dialogs.
    w.effectsWindow()->show();
    settle(200);
    take({"effects", w.effectsWindow(), nullptr});
    w.effectsWindow()->hide();
    w.notify(kNotifyTitleBar, 2);
    settle(200);
    take({"skin-dialog", w.skinDialog(), nullptr});
    w.notify(kNotifyTitleBar, 2);
    {
        AboutDialog about(&w);
        about.show();
        settle(200);
        take({"about", &about, nullptr});
    }
    {
        AboutBox box(&w);
        box.show();
        settle(200);
        take({"about-box", &box, nullptr});
    }
    w.notify(kNotifyWmaProgress, 0);
    settle(200);
    take({"wma-encoding", w.wmaDialog(), nullptr});
    w.notify(kNotifyWmaProgress, 1);

    // The message boxes: a notice and a question, as the message port
    // shows them.
    struct Box {
        const char* name;
        const char* caption;
        const char* text;
        bool question;
    };
    const Box boxes[] = {
        {"message-notice", caption::kDelete, kestrel::text::kNothingToDelete, false},
        {"message-vbr", text::kAppName, text::kVbrMinAboveMax, false},
        {"message-question", caption::kMain, text::kExitQuestion, true},
    };
    for (const Box& b : boxes) {
        QMessageBox box(b.question ? QMessageBox::Question : QMessageBox::Information,
                        QString::fromUtf8(b.caption), QString::fromUtf8(b.text),
                        b.question ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok, &w);
        box.show();
        settle(200);
        take({b.name, &box, nullptr});
    }
}

} // namespace kestrel::gui
