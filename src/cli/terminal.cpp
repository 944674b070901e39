#include "cli/terminal.h"

#include "cli/localize.h"
#include "cli/texts.h"
#include "engine/playback/texts_players.h"

#include "engine/core/run_state.h"
#include "platform/ports.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#include <memory>
#include <mutex>
#include <utility>
#include <string>
#include <sys/ioctl.h>
#include <type_traits>
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
        // The window's prompt to choose another command once playback is
        // over: a command line ends instead (and after a failure it would say
        // that playing finished).
        if (text == kestrel::text::kPlayIdle) return;
        printLine(std::string(text::kProgramPrefix) + localize(text));
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
    // The Windows Media reader's end of playback: the window's prompt to
    // choose another command, which a command line has no use for.
    void wmPlaybackEnded() override {}
    // The encoding of a WMA output from its intermediate WAV, in percent.
    void wmaProgress(int percent) override {
        ProgressInfo p;
        {
            std::lock_guard<std::mutex> lock(m_);
            if (source_) p = source_(0, 0);
            if (percent == 0) lastDecile_ = -1;
        }
        p.name = "WMA " + (p.name.empty() ? baseOf(current.path) : p.name);
        p.position = percent;
        p.length = 100;
        p.percentOnly = true;
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

std::mutex g_lastMessageLock;
std::string g_lastMessage;

void keepLastMessage(const std::string& text) {
    std::lock_guard<std::mutex> lock(g_lastMessageLock);
    g_lastMessage = text;
}

class TerminalMessages : public MessagePort {
  public:
    MsgAnswer show(const std::string& /*caption*/, const std::string& text, MsgButtons buttons,
                   MsgAnswer fallback) override {
        const std::string shown = localize(text);
        keepLastMessage(shown);
        printStatusLine(text::kProgramPrefix + shown);
        return buttons == MsgButtons::Ok ? MsgAnswer::Ok : fallback;
    }
    void showFailure(const std::string& caption, const std::string& text,
                     int systemError) override {
        if (systemError == 0) {
            show(caption, text, MsgButtons::Ok, MsgAnswer::Ok);
            return;
        }
        char reason[256];
        const std::string whole = localize(text) + ": " + systemReason(systemError, reason);
        keepLastMessage(whole);
        printStatusLine(text::kProgramPrefix + whole);
    }

  private:
    // The reason in the C locale's words (English): strerror_r of either kind.
    static const char* systemReason(int err, char (&buf)[256]) {
        auto pick = [&](auto r) -> const char* {
            if constexpr (std::is_same_v<decltype(r), int>)
                return r == 0 ? buf : "unknown error";
            else
                return r;
        };
        buf[0] = '\0';
        return pick(strerror_r(err, buf, sizeof buf));
    }
};

// The length of the UTF-8 character at s[0..n): 0 when the bytes there start
// none (or a form UTF-8 forbids), -1 when they start one cut off by the end.
int utf8Length(const unsigned char* s, size_t n) {
    const unsigned c = s[0];
    size_t len;
    if (c < 0x80) return 1;
    if (c >= 0xC2 && c <= 0xDF)
        len = 2;
    else if (c >= 0xE0 && c <= 0xEF)
        len = 3;
    else if (c >= 0xF0 && c <= 0xF4)
        len = 4;
    else
        return 0;
    for (size_t k = 1; k < len; ++k) {
        if (k >= n) return -1;
        const unsigned d = s[k];
        if ((d & 0xC0) != 0x80) return 0;
        if (k == 1 && ((c == 0xE0 && d < 0xA0) || (c == 0xED && d >= 0xA0) ||
                       (c == 0xF0 && d < 0x90) || (c == 0xF4 && d >= 0x90)))
            return 0; // overlong, surrogate, beyond U+10FFFF
    }
    return static_cast<int>(len);
}

// UTF-8 to one character set through iconv. Not thread-safe: callers lock.
class Converter {
  public:
    explicit Converter(const std::string& charset)
        : cd_(::iconv_open((charset + "//TRANSLIT").c_str(), "UTF-8")) {}
    ~Converter() {
        if (ok()) ::iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // Appends `p[0..n)` converted to `out` and returns the bytes used: all of
    // them, except with `keepTail` a character cut off at the end (the rest
    // of it comes with the next call).
    size_t convert(const char* p, size_t n, std::string& out, bool keepTail) {
        const auto* s = reinterpret_cast<const unsigned char*>(p);
        size_t runStart = 0, i = 0;
        while (i < n) {
            int len = utf8Length(s + i, n - i);
            if (len > 0) {
                i += static_cast<size_t>(len);
                continue;
            }
            convertRun(p + runStart, i - runStart, out);
            if (len < 0 && keepTail) return i;
            out += p[i++]; // no UTF-8: the byte as it is
            runStart = i;
        }
        convertRun(p + runStart, n - runStart, out);
        return n;
    }

  private:
    // Converts valid UTF-8.
    void convertRun(const char* p, size_t n, std::string& out) {
        if (n == 0) return;
        char* in = const_cast<char*>(p);
        size_t inLeft = n;
        char buf[1024];
        while (inLeft > 0) {
            char* o = buf;
            size_t oLeft = sizeof buf;
            size_t r = ::iconv(cd_, &in, &inLeft, &o, &oLeft);
            out.append(buf, static_cast<size_t>(o - buf));
            if (r == static_cast<size_t>(-1) && errno != E2BIG) {
                // A character the set lacks and iconv cannot transliterate.
                out += '?';
                int len = utf8Length(reinterpret_cast<unsigned char*>(in), inLeft);
                size_t skip = len > 0 ? static_cast<size_t>(len) : 1;
                in += skip;
                inLeft -= skip;
            }
        }
        char* o = buf;
        size_t oLeft = sizeof buf;
        ::iconv(cd_, nullptr, nullptr, &o, &oLeft); // back to the initial state
        out.append(buf, static_cast<size_t>(o - buf));
    }

    iconv_t cd_;
};

// stdout or stderr, converted on its way to the terminal.
struct ConvertedStream {
    int fd = -1;
    bool raw = false;    // machine output: bytes as they are
    std::string pending; // the start of a character cut off by the last write
};

// The conversion's state. Made once and never freed: stdio flushes stdout
// after the static objects are gone.
struct Encoding {
    explicit Encoding(const std::string& set) : charset(set), converter(set) {}
    std::mutex mutex;
    std::string charset;
    Converter converter;
    ConvertedStream out{STDOUT_FILENO, false, {}}, err{STDERR_FILENO, false, {}};
    int machineOutput = 0;
};
Encoding* g_encoding = nullptr;

bool writeAll(int fd, const std::string& s) {
    for (size_t done = 0; done < s.size();) {
        ssize_t n = ::write(fd, s.data() + done, s.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

ssize_t convertedWrite(void* cookie, const char* buf, size_t size) {
    auto* s = static_cast<ConvertedStream*>(cookie);
    std::lock_guard<std::mutex> lock(g_encoding->mutex);
    std::string in = std::move(s->pending);
    s->pending.clear();
    in.append(buf, size);
    std::string out;
    if (s->raw) {
        out = std::move(in);
    } else {
        size_t used = g_encoding->converter.convert(in.data(), in.size(), out, true);
        s->pending = in.substr(used);
    }
    return writeAll(s->fd, out) ? static_cast<ssize_t>(size) : -1;
}

FILE* openConverted(ConvertedStream& s, const char* mode) {
    cookie_io_functions_t io{};
    io.write = convertedWrite;
    return ::fopencookie(&s, mode, io);
}

} // namespace

void installTerminalMessages() {
    static TerminalMessages m;
    setMessagePort(&m);
}

std::string convertText(const std::string& text, const std::string& charset) {
    if (charset.empty()) return text;
    Converter c(charset);
    if (!c.ok()) return text;
    std::string out;
    c.convert(text.data(), text.size(), out, false);
    return out;
}

void setupTerminalEncoding() {
    locale_t loc = ::newlocale(LC_CTYPE_MASK, "", nullptr);
    if (!loc) return; // a locale this system lacks: the C locale's ASCII
    std::string set = ::nl_langinfo_l(CODESET, loc);
    ::freelocale(loc);
    if (set == "UTF-8" || set == "ANSI_X3.4-1968" || set.empty()) return;
    auto e = std::make_unique<Encoding>(set);
    if (!e->converter.ok()) return;
    std::fflush(stdout);
    std::fflush(stderr);
    FILE* out = openConverted(e->out, "w");
    FILE* err = openConverted(e->err, "w");
    if (!out || !err) {
        if (out) std::fclose(out);
        if (err) std::fclose(err);
        return;
    }
    g_encoding = e.release();
    std::setvbuf(out, nullptr, ::isatty(STDOUT_FILENO) ? _IOLBF : _IOFBF, BUFSIZ);
    std::setvbuf(err, nullptr, _IONBF, 0);
    stdout = out;
    stderr = err;
}

const std::string& terminalCharset() {
    static const std::string none;
    return g_encoding ? g_encoding->charset : none;
}

MachineOutput::MachineOutput() {
    if (!g_encoding) return;
    std::fflush(stdout);
    std::lock_guard<std::mutex> lock(g_encoding->mutex);
    if (g_encoding->machineOutput++ == 0) g_encoding->out.raw = true;
}

MachineOutput::~MachineOutput() {
    if (!g_encoding) return;
    std::fflush(stdout);
    std::lock_guard<std::mutex> lock(g_encoding->mutex);
    if (--g_encoding->machineOutput == 0) g_encoding->out.raw = false;
}

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
    std::string count = "[";
    count += std::to_string(p.entry);
    count += '/';
    count += std::to_string(p.entries);
    count += p.countsDone ? " done]" : "]";
    std::string pct;
    if (known) {
        std::snprintf(b, sizeof b, "%3d%%", static_cast<int>(std::floor(100 * pos / p.length)));
        pct = b;
    }
    std::string at = clockText(pos) + (known ? "/" + clockText(p.length) : std::string());
    std::string speed, left;
    if (p.percentOnly) at.clear();
    if (p.elapsed > 0.05 && pos > 0 && !p.percentOnly) {
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
            if (room > 0 && !p.name.empty()) {
                line += ' ';
                line += fitTail(p.name, room);
            }
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

std::string takeLastMessage() {
    std::lock_guard<std::mutex> lock(g_lastMessageLock);
    return std::exchange(g_lastMessage, std::string());
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
