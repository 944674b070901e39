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

void showMessage(const std::string& caption, const std::string& text) {
    messages().show(caption, text, MsgButtons::Ok, MsgAnswer::Ok);
}

void showMessage(const std::string& caption, const std::string& text, int systemError) {
    messages().showFailure(caption, text, systemError);
}

MsgAnswer askYesNo(const std::string& caption, const std::string& text, MsgAnswer fallback) {
    return messages().show(caption, text, MsgButtons::YesNo, fallback);
}

} // namespace kestrel
