#include "gui/output_manager_window.h"

namespace kestrel::gui {

OutputManagerWindow::OutputManagerWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setWindowFlag(Qt::WindowStaysOnTopHint);
}

void OutputManagerWindow::showRecord(int, const QString&, int) {}

} // namespace kestrel::gui
