#include "platform/ports.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace kestrel {
namespace {

class StderrMessages : public MessagePort {
  public:
    MsgAnswer show(const std::string& caption, const std::string& text, MsgButtons buttons,
                   MsgAnswer fallback) override {
        static std::mutex m;
        std::lock_guard<std::mutex> lock(m);
        std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
        return buttons == MsgButtons::Ok ? MsgAnswer::Ok : fallback;
    }
    void showFailure(const std::string& caption, const std::string& text,
                     int systemError) override {
        if (systemError == 0) {
            show(caption, text, MsgButtons::Ok, MsgAnswer::Ok);
            return;
        }
        show(caption, text + ": " + std::strerror(systemError), MsgButtons::Ok, MsgAnswer::Ok);
    }
};

class NullWindow : public WindowPort {};

StderrMessages g_stderrMessages;
NullWindow g_nullWindow;
std::atomic<MessagePort*> g_messages{&g_stderrMessages};
std::atomic<WindowPort*> g_window{&g_nullWindow};

} // namespace

MessagePort& messages() {
    return *g_messages.load();
}
WindowPort& window() {
    return *g_window.load();
}
void setMessagePort(MessagePort* port) {
    g_messages = port ? port : &g_stderrMessages;
}
void setWindowPort(WindowPort* port) {
    g_window = port ? port : &g_nullWindow;
}

namespace {
thread_local MessageHold* t_hold = nullptr;
} // namespace

// True when the thread holds its messages (the message is kept).
bool holdMessage(const std::string& caption, const std::string& text, int systemError) {
    if (!t_hold) return false;
    t_hold->held_.push_back({caption, text, systemError});
    return true;
}

MessageHold::MessageHold() : outer_(t_hold) {
    t_hold = this;
}

MessageHold::~MessageHold() {
    release();
}

void MessageHold::release() {
    if (!active_) return;
    std::vector<Held> held = std::move(held_);
    drop();
    // Shown to the enclosing hold, if any, else to the port.
    for (const Held& h : held) {
        if (h.systemError < 0)
            showMessage(h.caption, h.text);
        else
            showMessage(h.caption, h.text, h.systemError);
    }
}

void MessageHold::drop() {
    if (!active_) return;
    active_ = false;
    if (t_hold == this) t_hold = outer_;
    held_.clear();
}

void showMessage(const std::string& caption, const std::string& text) {
    if (holdMessage(caption, text, -1)) return;
    messages().show(caption, text, MsgButtons::Ok, MsgAnswer::Ok);
}

void showMessage(const std::string& caption, const std::string& text, int systemError) {
    if (holdMessage(caption, text, systemError)) return;
    messages().showFailure(caption, text, systemError);
}

MsgAnswer askYesNo(const std::string& caption, const std::string& text, MsgAnswer fallback) {
    return messages().show(caption, text, MsgButtons::YesNo, fallback);
}

} // namespace kestrel
