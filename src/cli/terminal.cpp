#include "cli/terminal.h"

#include "engine/core/run_state.h"
#include "platform/ports.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <sys/ioctl.h>
#include <unistd.h>
#include <vector>

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

using Clock = std::chrono::steady_clock;

// Decodes one UTF-8 character at `i`; a byte that starts none counts alone.
char32_t nextChar(const std::string& s, size_t& i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    int more = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
    if (i + more >= s.size()) more = 0;
    char32_t v = more == 0 ? c : c & (0x3F >> more);
    for (int k = 1; k <= more; ++k) {
        unsigned char n = static_cast<unsigned char>(s[i + k]);
        if ((n & 0xC0) != 0x80) {
            ++i;
            return c;
        }
        v = (v << 6) | (n & 0x3F);
    }
    i += 1 + more;
    return v;
}

int charWidth(char32_t c) {
    if (c < 0x20 || (c >= 0x7F && c < 0xA0)) return 0;
    if ((c >= 0x0300 && c <= 0x036F) || (c >= 0x200B && c <= 0x200F)) return 0;
    if ((c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF && c != 0x303F) ||
        (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
        (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
        (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1FAFF) ||
        (c >= 0x20000 && c <= 0x3FFFD))
        return 2;
    return 1;
}

// The tail of `s` that fits in `width` columns, led by "…" when cut.
std::string fitTail(const std::string& s, int width) {
    if (displayWidth(s) <= width) return s;
    if (width <= 0) return std::string();
    std::vector<std::pair<size_t, int>> chars; // start, width
    for (size_t i = 0; i < s.size();) {
        size_t at = i;
        chars.push_back({at, charWidth(nextChar(s, i))});
    }
    int used = 1; // the "…"
    size_t from = s.size();
    for (size_t k = chars.size(); k-- > 0;) {
        if (used + chars[k].second > width) break;
        used += chars[k].second;
        from = chars[k].first;
    }
    return "…" + s.substr(from);
}

std::string clockText(double seconds) {
    long s = seconds > 0 ? static_cast<long>(seconds) : 0;
    char b[32];
    if (s >= 3600)
        std::snprintf(b, sizeof b, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(b, sizeof b, "%ld:%02ld", s / 60, s % 60);
    return b;
}

std::string baseOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

class TerminalWindow : public WindowPort {
  public:
    TerminalWindow() : tty_(::isatty(STDERR_FILENO) != 0) {}

    void configure(const TerminalOptions& o) {
        std::lock_guard<std::mutex> lock(m_);
        options_ = o;
        start_ = Clock::now();
    }
    void setSource(std::function<ProgressInfo(int, int)> source) {
        std::lock_guard<std::mutex> lock(m_);
        source_ = std::move(source);
    }

    void statusText(const std::string& text) override {
        if (isProgressText(text) || options_.quiet) return;
        printLine(text);
    }
    void position(int second, int length) override {
        ProgressInfo p;
        {
            std::lock_guard<std::mutex> lock(m_);
            if (source_) {
                p = source_(second, length);
            } else {
                p.name = baseOf(current.path);
                p.position = second;
                p.length = length;
            }
        }
        p.elapsed = elapsed();
        show(p);
    }
    // A worker starts: its progress counts from nothing.
    void busy(Commands) override {
        std::lock_guard<std::mutex> lock(m_);
        lastDecile_ = -1;
    }

    double elapsed() const { return std::chrono::duration<double>(Clock::now() - start_).count(); }

    void show(const ProgressInfo& p) {
        std::lock_guard<std::mutex> lock(m_);
        if (options_.quiet) return;
        if (tty_) {
            // At most ten redraws a second; the first and the end always.
            auto now = Clock::now();
            bool end = p.length > 0 && p.position >= p.length;
            if (lineOpen_ && !end && now - lastDraw_ < std::chrono::milliseconds(100)) return;
            lastDraw_ = now;
            std::string line = formatProgressLine(p, terminalWidth() - 1);
            std::fprintf(stderr, "\r\033[K%s", line.c_str());
            std::fflush(stderr);
            lineOpen_ = true;
        } else if (options_.plainProgress) {
            int pct = p.length > 0 ? static_cast<int>(100 * p.position / p.length) : 0;
            pct = std::min(pct, 100);
            if (pct / 10 == lastDecile_) return;
            lastDecile_ = pct / 10;
            std::string line = formatProgressLine(p, 1000);
            std::fprintf(stderr, "%s\n", line.c_str());
            std::fflush(stderr);
        }
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

  private:
    std::mutex m_;
    bool tty_;
    TerminalOptions options_;
    std::function<ProgressInfo(int, int)> source_;
    Clock::time_point start_ = Clock::now();
    Clock::time_point lastDraw_{};
    bool lineOpen_ = false;
    int lastDecile_ = -1;
};

TerminalWindow* g_window = nullptr;

} // namespace

int displayWidth(const std::string& s) {
    int w = 0;
    for (size_t i = 0; i < s.size();)
        w += charWidth(nextChar(s, i));
    return w;
}

int terminalWidth() {
    winsize ws{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
    if (const char* c = std::getenv("COLUMNS")) {
        int n = std::atoi(c);
        if (n > 0) return n;
    }
    return 80;
}

std::string formatProgressLine(const ProgressInfo& p, int width) {
    const bool known = p.length > 0;
    const double pos = known ? std::min(p.position, p.length) : p.position;
    char b[64];
    std::string count = "[" + std::to_string(p.entry) + "/" + std::to_string(p.entries) + "]";
    std::string pct;
    if (known) {
        std::snprintf(b, sizeof b, "%3d%%", static_cast<int>(std::floor(100 * pos / p.length)));
        pct = b;
    }
    std::string at = clockText(pos) + (known ? "/" + clockText(p.length) : std::string());
    std::string speed, left;
    if (p.elapsed > 0.05 && pos > 0) {
        double x = pos / p.elapsed;
        std::snprintf(b, sizeof b, x >= 10 ? "%.0f×" : "%.1f×", x);
        speed = b;
        if (known) left = "left " + clockText((p.length - pos) / x);
    }
    // Fields after the name, dropped from the right while they do not fit.
    std::vector<std::string> tail = {pct, at, speed, left};
    for (;;) {
        std::string rest;
        for (const auto& f : tail)
            if (!f.empty()) rest += "  " + f;
        int fixed = displayWidth(count) + displayWidth(rest);
        int room = width - fixed - 1;
        // The name keeps at least eight columns before a field is dropped.
        if (room >= std::min(8, displayWidth(p.name)) || tail.size() <= 1) {
            std::string line = count;
            if (room > 0 && !p.name.empty()) line += " " + fitTail(p.name, room);
            line += rest;
            if (displayWidth(line) <= width) return line;
            if (tail.size() <= 1) return fitTail(count + rest, width);
        }
        tail.pop_back();
    }
}

bool isProgressText(const std::string& s) {
    return s.size() > 4 && s.compare(s.size() - 4, 4, "]秒") == 0;
}

void installTerminalWindow(const TerminalOptions& options) {
    static TerminalWindow w;
    w.configure(options);
    g_window = &w;
    setWindowPort(&w);
}

void setProgressSource(std::function<ProgressInfo(int, int)> source) {
    if (g_window) g_window->setSource(std::move(source));
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

void showProgress(const ProgressInfo& p) {
    if (g_window) g_window->show(p);
}

double elapsedSeconds() {
    return g_window ? g_window->elapsed() : 0;
}

} // namespace kestrel::cli
