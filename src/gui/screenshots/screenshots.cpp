// Takes the screenshots of the documentation: the main window during a
// conversion (spectrum running), each page of the tab control, the skin
// dialog and the about dialog. Usage: kestrel-screenshots OUTDIR MEDIAFILE
// (run under a display; tools/screenshots.sh starts one).
#include "engine/catalogue/media_list.h"
#include "engine/core/run_state.h"
#include "engine/libraries/lib_mxscan.h"
#include "engine/libraries/lib_orvosoundmix.h"
#include "engine/playback/players.h"
#include "engine/settings/settings.h"
#include "gui/main_window.h"
#include "gui/media_page.h"
#include "gui/skin_dialog.h"

#include "platform/paths.h"

#include <QApplication>
#include <QEventLoop>
#include <QPixmap>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void wait(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool save(QWidget* w, const QString& file) {
    const bool ok = w->grab().save(file);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(file));
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: kestrel-screenshots OUTDIR MEDIAFILE\n");
        return 1;
    }
    QApplication app(argc, argv);
    using namespace kestrel;
    const QString out = QString::fromLocal8Bit(argv[1]);
    char home[] = "/tmp/kestrel-shots-XXXXXX";
    if (!::mkdtemp(home)) return 1;
    setProgramFolder(home);
    if (loadMxscan() < 0) return 1;
    loadSettings();
    settings.output_type = kOutMp3;
    settings.conversion_mode = 0; // real time: the display runs with the sound
    settings.save_path = std::string(home) + "/";
    derive_output_format();
    resetMediaList();
    if (addMediaFile(argv[2]) < 0) return 1;

    gui::MainWindow w;
    w.start();
    if (startSoundEffects() < 0) return 1;
    w.attachEffects();
    w.show();
    wait(500);
    w.mediaPage()->list->topLevelItem(0)->setSelected(true);
    qobject_cast<QPushButton*>(w.control(gui::kConvertButton))->click();
    wait(2500);
    bool ok = save(&w, out + "/main-converting.png");
    stopCommand();
    for (int i = 0; i < 50 && running.load(); ++i)
        wait(100);
    wait(300);
    const char* pages[4] = {"page-list.png", "page-mp3.png", "page-wma.png", "page-mp4.png"};
    for (int i = 0; i < 4; ++i) {
        w.tabs()->setCurrentIndex(i);
        wait(200);
        ok = save(&w, out + "/" + pages[i]) && ok;
    }
    w.notify(gui::kNotifyTitleBar, 2);
    wait(300);
    ok = save(w.skinDialog(), out + "/skin-dialog.png") && ok;
    w.notify(gui::kNotifyTitleBar, 2);
    gui::AboutDialog about(&w);
    about.show();
    wait(300);
    ok = save(&about, out + "/about.png") && ok;
    about.hide();
    gui::MainWindow::pause = [](int) {};
    w.exitCommand();
    std::system((std::string("rm -rf '") + home + "'").c_str());
    return ok ? 0 : 1;
}
