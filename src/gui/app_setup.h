// What the program sets on its application object before any window opens:
// Qt's own texts in the user's language (the file dialog, the message boxes'
// buttons), the program's icon for every window, and one widget style on
// every desktop, which the skin's style sheet paints over.
#pragma once

class QApplication;

namespace kestrel::gui {

// Returns true when Qt's translations for the locale were found and loaded
// (an English locale needs none and gives false).
bool setUpApplication(QApplication& app);

} // namespace kestrel::gui
