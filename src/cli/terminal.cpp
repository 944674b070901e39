#include "cli/terminal.h"

#include "engine/core/run_state.h"
#include "platform/ports.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <string>
#include <unistd.h>

namespace kestrel::cli {

namespace {

std::atomic<bool> g_interrupted{false};
std::atomic<int> g_signal{0};

void onInterrupt(int sig) {
    if (g_interrupted.exchange(true)) {
        std::signal(sig, SIG_DFL);
        std::raise(sig);
        return;
    }
    g_signal.store(sig);
    running.store(false);
}

class TerminalWindow : public WindowPort {
  public:
    TerminalWindow() : tty_(::isatty(STDERR_FILENO) != 0) {}

    void statusText(const std::string& text) override {
        std::lock_guard<std::mutex> lock(m_);
        if (tty_) {
            std::fprintf(stderr, "\r\033[K%s", text.c_str());
            lineOpen_ = true;
            if (!isProgressText(text)) {
                std::fputc('\n', stderr);
                lineOpen_ = false;
            }
            std::fflush(stderr);
        } else if (!isProgressText(text)) {
            std::fprintf(stderr, "%s\n", text.c_str());
        }
    }
    // Without a terminal the progress shows as a line at each tenth.
    void progress(int value, int max) override {
        if (tty_) return;
        std::lock_guard<std::mutex> lock(m_);
        if (max <= 0) return;
        int pct = static_cast<int>((static_cast<long long>(value) * 100) / max);
        if (pct / 10 != lastDecile_ && pct > 0) {
            lastDecile_ = pct / 10;
            std::fprintf(stderr, "%d%%\n", lastDecile_ * 10);
        }
    }
    // A worker starts: its progress counts from nothing.
    void busy(Commands) override {
        std::lock_guard<std::mutex> lock(m_);
        lastDecile_ = 0;
    }

    void endLine() {
        std::lock_guard<std::mutex> lock(m_);
        if (lineOpen_) std::fputc('\n', stderr);
        lineOpen_ = false;
    }
    void printLine(const std::string& text) {
        std::lock_guard<std::mutex> lock(m_);
        if (lineOpen_) std::fputs("\r\033[K", stderr);
        lineOpen_ = false;
        std::fprintf(stderr, "%s\n", text.c_str());
        std::fflush(stderr);
    }
    void progressLine(const std::string& text) {
        if (!tty_) return;
        std::lock_guard<std::mutex> lock(m_);
        std::fprintf(stderr, "\r\033[K%s", text.c_str());
        std::fflush(stderr);
        lineOpen_ = true;
    }

  private:
    std::mutex m_;
    bool tty_;
    bool lineOpen_ = false;
    int lastDecile_ = 0;
};

TerminalWindow* g_window = nullptr;

} // namespace

bool isProgressText(const std::string& s) {
    return s.size() > 4 && s.compare(s.size() - 4, 4, "]秒") == 0;
}

void installTerminalWindow() {
    static TerminalWindow w;
    g_window = &w;
    setWindowPort(&w);
}

void installInterruptHandler() {
    struct sigaction sa {};
    sa.sa_handler = onInterrupt;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

bool interrupted() {
    return g_interrupted.load();
}

int interruptSignal() {
    return g_signal.load();
}

void endProgressLine() {
    if (g_window) g_window->endLine();
}

void printStatusLine(const std::string& text) {
    if (g_window)
        g_window->printLine(text);
    else
        std::fprintf(stderr, "%s\n", text.c_str());
}

void showProgressLine(const std::string& text) {
    if (g_window) g_window->progressLine(text);
}

} // namespace kestrel::cli
