#include "gui/app_setup.h"

#include <QApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QStyleFactory>
#include <QTranslator>

static void initIconResource() {
    Q_INIT_RESOURCE(kestrel_gui);
}

namespace kestrel::gui {

bool setUpApplication(QApplication& app) {
    initIconResource();
    if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"))) app.setStyle(fusion);
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/kestrel-%1.png").arg(size), QSize(size, size));
    app.setWindowIcon(icon);
    // Qt's own texts: qtbase's catalogue for the locale, from Qt's
    // translations folder.
    auto* qt = new QTranslator(&app);
    if (!qt->load(QLocale(), QStringLiteral("qtbase"), QStringLiteral("_"),
                  QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete qt;
        return false;
    }
    app.installTranslator(qt);
    return true;
}

} // namespace kestrel::gui
