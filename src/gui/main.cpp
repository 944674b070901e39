// kestrel: the main window over the conversion and playback engine.
#include "engine/catalogue/disc_scan.h"
#include "engine/catalogue/media_list.h"
#include "engine/libraries/lib_orvosoundmix.h"
#include "engine/settings/settings.h"
#include "gui/app_setup.h"
#include "gui/gui_ports.h"
#include "gui/main_window.h"
#include "gui/startup_checks.h"
#include "platform/desktop_entries.h"
#include "platform/paths.h"
#include "platform/ports.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QUrl>

#include <cstdio>
#include <cstdlib>

namespace {

// The folder of the help pages: the installed copy's, or beside the program,
// else the source tree's.
QString helpFolder() {
    const QString beside = QFileInfo(QString::fromStdString(kestrel::helpIndexPath())).path();
    if (QFileInfo::exists(beside + "/index.html")) return beside;
#ifdef KESTREL_HELP_DIR
    return QStringLiteral(KESTREL_HELP_DIR);
#else
    return beside;
#endif
}

// Prints the time of the window's first paint.
class FirstPaint : public QObject {
  public:
    explicit FirstPaint(const QElapsedTimer& t) : t_(t) {}
    bool eventFilter(QObject* o, QEvent* e) override {
        if (e->type() == QEvent::Paint && !done_) {
            done_ = true;
            std::fprintf(stderr, "first paint after %lld ms\n",
                         static_cast<long long>(t_.elapsed()));
        }
        return QObject::eventFilter(o, e);
    }

  private:
    const QElapsedTimer& t_;
    bool done_ = false;
};

constexpr const char* kUsage = "usage: kestrel [FILE...]\n"
                               "Opens the converter's window with the media FILEs in its list.\n";

} // namespace

int main(int argc, char** argv) {
    QElapsedTimer sinceStart;
    sinceStart.start();
    QApplication app(argc, argv);
    app.setApplicationName("kestrel");
    kestrel::gui::setUpApplication(app);
    using namespace kestrel;
    using kestrel::gui::MainWindow;

    MainWindow::openHelpPage = [](const QString& page) {
        QDesktopServices::openUrl(QUrl::fromLocalFile(helpFolder() + "/" + page));
    };

    // The media files to open: every argument (after "--" even those that
    // start with a dash).
    QStringList files;
    bool onlyFiles = false;
    for (const QString& a : app.arguments().mid(1)) {
        if (!onlyFiles && a == QLatin1String("--")) {
            onlyFiles = true;
        } else if (!onlyFiles && (a == QLatin1String("--help") || a == QLatin1String("-h"))) {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (!onlyFiles && a == QLatin1String("--version")) {
            std::printf("kestrel %s\n", KESTREL_VERSION);
            return 0;
        } else if (!onlyFiles && a.startsWith('-') && a.size() > 1) {
            std::fprintf(stderr, "kestrel: unknown option %s\n%s", qUtf8Printable(a), kUsage);
            return 2;
        } else {
            files << a;
        }
    }

    // Messages of the start, before the window has its own port.
    kestrel::gui::GuiMessagePort startMessages(&app);
    setMessagePort(&startMessages);

    removeStaleTempFiles();
    if (kestrel::gui::checkStart() < 0) return kestrel::gui::kStartFailed;
    loadSettings();
    derive_output_format();
    resetMediaList();
    // The discs' tracks come first, then the stored list.
    scanDiscs();
    loadMediaList();
    // The menu entries of a copy that is not installed (an installed one has
    // them from its package).
    if (!isInstalledCopy()) {
        const std::string exe = executableFolder();
        writeDesktopEntries(userApplicationsFolder(), exe + "/kestrel", exe + "/kestrel.png",
                            helpIndexPath());
    }

    MainWindow w;
    w.start();
    // The sound-effects library: the program does not run without it.
    if (startSoundEffects() < 0) return kestrel::gui::kStartFailed;
    w.attachEffects();
    w.openFiles(files);
    w.show();
    // The first paint, for the start-up benchmark when it asks.
    FirstPaint firstPaint(sinceStart);
    if (std::getenv("KESTREL_REPORT_START")) w.installEventFilter(&firstPaint);
    return app.exec();
}
