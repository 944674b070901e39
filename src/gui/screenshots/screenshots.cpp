// Takes the screenshots of the documentation: the main window during a
// conversion (spectrum running), then every scene of the gallery (each page,
// every drop-down list opened, the dialogs, the output manager, the message
// boxes), and the list page in a light skin. Usage:
// kestrel-screenshots OUTDIR MEDIAFILE (run under a display;
// tools/screenshots.sh starts one).
#include "engine/catalogue/media_list.h"
#include "engine/core/run_state.h"
#include "engine/libraries/lib_mxscan.h"
#include "engine/libraries/lib_orvosoundmix.h"
#include "engine/playback/players.h"
#include "engine/settings/settings.h"
#include "gui/app_setup.h"
#include "gui/main_window.h"
#include "gui/media_page.h"
#include "screenshots/gallery.h"

#include "platform/paths.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QTabWidget>
#include <QTreeWidget>

#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <string>

namespace {

bool save(const QPixmap& p, const QString& file) {
    const bool ok = p.save(file);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(file));
    return ok;
}

// A window opened over another (a list's popup, a tip) is shown where it
// stands over that window, cut to the part around it.
QPixmap composed(const kestrel::gui::Scene& s) {
    if (!s.shown || !s.under) return s.shown->grab();
    const QPixmap base = s.under->grab(), top = s.shown->grab();
    const QPoint at = s.under->mapFromGlobal(s.shown->mapToGlobal(QPoint(0, 0)));
    const QRect area(at, top.size());
    // The part of the window around the opened one, on a grey desktop
    // where it reaches past the window.
    const QRect cut = area.adjusted(-120, -60, 120, 40)
                          .intersected(QRect(QPoint(0, 0), base.size()).united(area));
    QPixmap canvas(cut.size());
    canvas.fill(QColor(0x50, 0x50, 0x50));
    QPainter p(&canvas);
    p.drawPixmap(-cut.topLeft(), base);
    p.drawPixmap(at - cut.topLeft(), top);
    p.end();
    return canvas;
}

std::string firstFile(const std::string& dir) {
    std::string found;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d))
            if (e->d_name[0] != '.') found = dir + "/" + e->d_name;
        ::closedir(d);
    }
    return found;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: kestrel-screenshots OUTDIR MEDIAFILE\n");
        return 1;
    }
    QApplication app(argc, argv);
    kestrel::gui::setUpApplication(app);
    using namespace kestrel;
    using gui::settle;
    const QString out = QString::fromLocal8Bit(argv[1]);
    char home[] = "/tmp/kestrel-shots-XXXXXX";
    if (!::mkdtemp(home)) return 1;
    setProgramFolder(home);
    if (loadMxscan() < 0) return 1;
    loadSettings();
    settings.output_type = kOutMp3;
    settings.conversion_mode = 0; // real time: the display runs with the sound
    settings.save_path = std::string(home) + "/out/";
    QDir(home).mkpath("out");
    derive_output_format();
    resetMediaList();
    if (addMediaFile(argv[1 + 1]) < 0) return 1;
    // A folder as a user's: media of several types and a text file.
    const QString folder = QString::fromLocal8Bit(home) + "/Music";
    QDir(home).mkpath("Music");
    for (const char* name : {"concert.mp3", "holiday.VOB", "ringtone.amr", "clip.3gp", "notes.txt"})
        QFile::copy(QString::fromLocal8Bit(argv[2]), folder + "/" + name);

    gui::MainWindow w;
    w.start();
    if (startSoundEffects() < 0) return 1;
    w.attachEffects();
    w.show();
    settle(500);
    w.mediaPage()->list->topLevelItem(0)->setSelected(true);
    qobject_cast<QPushButton*>(w.control(gui::kConvertButton))->click();
    settle(2500);
    bool ok = save(w.grab(), out + "/main-converting.png");
    stopCommand();
    for (int i = 0; i < 50 && running.load(); ++i)
        settle(100);
    settle(300);
    const std::string output = firstFile(std::string(home) + "/out");

    gui::walkGallery(w, folder, output, [&](const gui::Scene& s) {
        ok = save(composed(s), out + "/" + s.name + ".png") && ok;
    });
    // A light skin: the texts turn dark.
    settings.skin_colour = 0xE8E8E8;
    w.applySkin();
    w.tabs()->setCurrentIndex(1);
    settle(200);
    ok = save(w.grab(), out + "/page-mp3-light.png") && ok;
    gui::MainWindow::pause = [](int) {};
    w.exitCommand();
    std::system((std::string("rm -rf '") + home + "'").c_str());
    return ok ? 0 : 1;
}
