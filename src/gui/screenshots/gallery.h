// The windows a user meets, one scene at a time: the main window on each
// page, every drop-down list opened, a tool tip, the add dialog and its type
// list, the output manager, the effects window, the skin dialog, the about
// dialogs, the WMA encoding dialog and the message boxes. The documentation's
// screenshots and the contrast check walk the same scenes.
#pragma once

#include <QString>

#include <functional>
#include <string>

class QWidget;

namespace kestrel::gui {

class MainWindow;

struct Scene {
    QString name;   // file name without extension, e.g. "page-mp3"
    QWidget* shown; // the window on screen: what the scene is about
    QWidget* under; // the window it opens over (nullptr for a window of its own)
};

// Shows each scene over `w` (started, with at least one entry in its list)
// and calls `take` while it is shown. `folder` is a folder with media files
// the add dialog opens on; `output` an output file the output manager lists.
void walkGallery(MainWindow& w, const QString& folder, const std::string& output,
                 const std::function<void(const Scene&)>& take);

// Lets the window's events run for `ms` milliseconds (times `settleScale`:
// the offscreen checks need less time than a screen).
void settle(int ms);
extern double settleScale;

} // namespace kestrel::gui
