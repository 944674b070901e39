#include "gui/gui_ports.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>

namespace kestrel::gui {

void onGuiThread(QObject* context, std::function<void()> f, bool wait) {
    if (QThread::currentThread() == context->thread()) {
        f();
        return;
    }
    QMetaObject::invokeMethod(context, std::move(f),
                              wait ? Qt::BlockingQueuedConnection : Qt::QueuedConnection);
}

MsgAnswer GuiMessagePort::show(const std::string& caption, const std::string& text,
                               MsgButtons buttons, MsgAnswer fallback) {
    // A worker's OK message does not wait for the box: the window's thread
    // may be waiting for that worker to end.
    if (buttons == MsgButtons::Ok && QThread::currentThread() != context_->thread()) {
        const QString c = QString::fromStdString(caption), t = QString::fromStdString(text);
        QMetaObject::invokeMethod(
            context_, [c, t] { QMessageBox::information(QApplication::activeWindow(), c, t); },
            Qt::QueuedConnection);
        return MsgAnswer::Ok;
    }
    MsgAnswer answer = fallback;
    onGuiThread(
        context_,
        [&] {
            QWidget* parent = QApplication::activeWindow();
            const QString c = QString::fromStdString(caption);
            const QString t = QString::fromStdString(text);
            if (buttons == MsgButtons::YesNo) {
                answer = QMessageBox::question(parent, c, t, QMessageBox::Yes | QMessageBox::No) ==
                                 QMessageBox::Yes
                             ? MsgAnswer::Yes
                             : MsgAnswer::No;
            } else {
                QMessageBox::information(parent, c, t);
                answer = MsgAnswer::Ok;
            }
        },
        true);
    return answer;
}

GuiWindowPort::GuiWindowPort(ControlSurface& surface, QObject* context)
    : controls_(surface), context_(context) {}

void GuiWindowPort::post(std::function<void()> f) {
    onGuiThread(context_, std::move(f));
}

void GuiWindowPort::statusText(const std::string& text) {
    post([this, text] { controls_.statusText(text); });
}
void GuiWindowPort::busy(Commands available) {
    post([this, available] { controls_.busy(available); });
}
void GuiWindowPort::idle(Commands available) {
    post([this, available] {
        controls_.idle(available);
        emit wentIdle();
    });
}
void GuiWindowPort::progress(int value, int max) {
    post([this, value, max] { controls_.progress(value, max); });
}
void GuiWindowPort::position(int second, int lengthSeconds) {
    post([this, second, lengthSeconds] { controls_.position(second, lengthSeconds); });
}
void GuiWindowPort::clock(int second) {
    post([this, second] { controls_.clock(second); });
}
void GuiWindowPort::levels(int left, int right) {
    post([this, left, right] { controls_.levels(left, right); });
}
void GuiWindowPort::volume(int left, int right) {
    post([this, left, right] { controls_.volume(left, right); });
}
void GuiWindowPort::gainsReset() {
    post([this] { controls_.gainsReset(); });
}
void GuiWindowPort::switchesOn(Commands which) {
    post([this, which] { controls_.switchesOn(which); });
}
void GuiWindowPort::wmaProgress(int percent) {
    post([this, percent] { controls_.wmaProgress(percent); });
}
void GuiWindowPort::wmPlaybackEnded() {
    post([this] { controls_.wmPlaybackEnded(); });
}

} // namespace kestrel::gui
