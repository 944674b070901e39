// The ports of the window: the engine's workers report through them from any
// thread; every call is carried onto the window's thread before it touches a
// widget.
#pragma once

#include "gui/main_window_controls.h"
#include "platform/ports.h"

#include <QObject>

#include <functional>

namespace kestrel::gui {

// Runs `f` on the thread of `context`: at once when called there, else queued
// (`wait`: the caller blocks until it has run).
void onGuiThread(QObject* context, std::function<void()> f, bool wait = false);

// Message boxes (QMessageBox). A worker's question waits for the answer; its
// OK message is shown once the window's thread gets to it.
class GuiMessagePort : public MessagePort {
  public:
    explicit GuiMessagePort(QObject* context) : context_(context) {}
    MsgAnswer show(const std::string& caption, const std::string& text, MsgButtons buttons,
                   MsgAnswer fallback) override;

  private:
    QObject* context_;
};

// The window port: hands every event to a ControlWindow on the window's thread.
// The outputs of a job reach the output manager when the job has gone idle
// (wentIdle), from the job's own table: outputFinished needs no override.
class GuiWindowPort : public QObject, public WindowPort {
    Q_OBJECT
  public:
    GuiWindowPort(ControlSurface& surface, QObject* context);

    void statusText(const std::string& text) override;
    void busy(Commands available) override;
    void idle(Commands available) override;
    void progress(int value, int max) override;
    void position(int second, int lengthSeconds) override;
    void clock(int second) override;
    void levels(int left, int right) override;
    void volume(int left, int right) override;
    void gainsReset() override;
    void switchesOn(Commands which) override;
    void wmaProgress(int percent) override;
    void wmPlaybackEnded() override;

  signals:
    // On the window's thread when a worker went idle.
    void wentIdle();

  private:
    void post(std::function<void()> f);
    ControlWindow controls_;
    QObject* context_;
};

} // namespace kestrel::gui
