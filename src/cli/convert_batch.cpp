#include "cli/convert_batch.h"

#include "cli/terminal.h"
#include "cli/texts.h"
#include "engine/catalogue/media_list.h"
#include "engine/convert/conversion_driver.h"
#include "engine/core/run_state.h"
#include "platform/paths.h"
#include "platform/ports.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <poll.h>
#include <sstream>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kestrel::cli {

namespace {

std::string toHex(const std::string& s) {
    static const char digits[] = "0123456789abcdef";
    std::string h;
    h.reserve(s.size() * 2 + 1);
    for (unsigned char c : s) {
        h += digits[c >> 4];
        h += digits[c & 15];
    }
    // An empty text still takes a field of the record.
    return h.empty() ? "-" : h;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool fromHex(const std::string& h, std::string& out) {
    out.clear();
    if (h == "-") return true;
    if (h.size() % 2) return false;
    for (size_t i = 0; i < h.size(); i += 2) {
        int hi = hexDigit(h[i]), lo = hexDigit(h[i + 1]);
        if (hi < 0 || lo < 0) return false;
        out += static_cast<char>(hi * 16 + lo);
    }
    return true;
}

bool writeAll(int fd, const std::string& s) {
    size_t done = 0;
    while (done < s.size()) {
        ssize_t n = ::write(fd, s.data() + done, s.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool parseIndex(const std::string& s, long limit, long& out) {
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(s.c_str(), &end, 10);
    if (s.empty() || *end != '\0' || errno || v < 0 || v > limit) return false;
    out = v;
    return true;
}

// ---- worker side ----

std::mutex g_reportMutex;

void report(const std::string& line) {
    std::lock_guard<std::mutex> lock(g_reportMutex);
    (void)writeAll(STDOUT_FILENO, line + "\n");
}

// The worker's window: positions and status texts go to the parent.
class WorkerWindow : public WindowPort {
  public:
    void statusText(const std::string& text) override {
        if (isProgressText(text)) return;
        report("T " + toHex(text));
    }
    void position(int second, int) override {
        if (entry < 0) return;
        report("P " + std::to_string(entry) + " " + std::to_string(second));
    }

    std::atomic<long> entry{-1};
};

// `lostError`: the system error that left no file; `kept`: the earlier file
// the output left in place (it is not whole).
void reportResult(long index, EntryResult result, uint64_t pcmBytes, const std::string& name,
                  int lostError = 0, const std::string& kept = std::string()) {
    std::string line = "R ";
    for (const std::string& field :
         {std::to_string(index), std::to_string(static_cast<int>(result)), std::to_string(pcmBytes),
          std::to_string(lostError), toHex(name)}) {
        line += field;
        line += ' ';
    }
    line.pop_back();
    if (!kept.empty()) {
        line += ' ';
        line += toHex(kept);
    }
    report(line);
}

// ---- parent side ----

struct Worker {
    pid_t pid = -1;
    int in = -1, out = -1, err = -1;
    std::string outBuf, errBuf;
    long entry = -1; // the entry it converts, -1 when idle
    std::string home;
};

void closeFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

// Starts one worker; false (errno set) when it could not be started.
bool startWorker(Worker& w, const std::string& exe, const Args& args) {
    int in[2], out[2], err[2];
    if (::pipe2(in, O_CLOEXEC) != 0) return false;
    if (::pipe2(out, O_CLOEXEC) != 0) {
        int e = errno;
        ::close(in[0]), ::close(in[1]);
        errno = e;
        return false;
    }
    if (::pipe2(err, O_CLOEXEC) != 0) {
        int e = errno;
        ::close(in[0]), ::close(in[1]), ::close(out[0]), ::close(out[1]);
        errno = e;
        return false;
    }
    std::vector<std::string> argv = {exe, "--home", w.home, "convert"};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.push_back(kBatchWorkerOption);
    std::vector<char*> cargv;
    for (auto& a : argv)
        cargv.push_back(a.data());
    cargv.push_back(nullptr);
    const pid_t parent = ::getpid();
    pid_t pid = ::fork();
    if (pid == 0) {
        // Only async-signal-safe calls until exec. The worker has a process
        // group of its own, so that a Ctrl-C on the terminal reaches the
        // parent only, which passes it on once; it stops like at SIGTERM when
        // the parent goes away.
        ::setpgid(0, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) ::_exit(127);
        ::dup2(in[0], STDIN_FILENO);
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(err[1], STDERR_FILENO);
        struct sigaction dfl {};
        dfl.sa_handler = SIG_DFL;
        sigemptyset(&dfl.sa_mask);
        ::sigaction(SIGPIPE, &dfl, nullptr);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::execv(exe.c_str(), cargv.data());
        ::_exit(127);
    }
    int e = errno;
    ::close(in[0]), ::close(out[1]), ::close(err[1]);
    if (pid < 0) {
        ::close(in[1]), ::close(out[0]), ::close(err[0]);
        errno = e;
        return false;
    }
    ::setpgid(pid, pid);
    w.pid = pid;
    w.in = in[1];
    w.out = out[0];
    w.err = err[0];
    return true;
}

std::string selfExecutable() {
    char buf[4096];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return executableFolder() + "/kestrel-cli";
    buf[n] = '\0';
    return buf;
}

std::string endReason(int status) {
    if (WIFSIGNALED(status)) return "signal " + std::to_string(WTERMSIG(status));
    if (WIFEXITED(status)) return "exit status " + std::to_string(WEXITSTATUS(status));
    return "status " + std::to_string(status);
}

class Batch {
  public:
    explicit Batch(const std::vector<std::string>& names)
        : names_(names), pos_(mainJob().jobTable.size(), 0),
          stopped_(mainJob().jobTable.size(), false) {
        for (const auto& e : mainJob().jobTable) {
            total_ += e.durationSec > 0 ? e.durationSec : 0;
            if (e.result == EntryResult::NotRun)
                ++pending_;
            else
                ++done_; // settled before the start (it gets no output)
        }
    }

    // The entries a stop came to while they were converted.
    const std::vector<bool>& stopped() const { return stopped_; }

    int run(int jobs, const Args& args) {
        std::error_code ec;
        makeDirectories(tempFolder());
        // Tagged with this run, so that a later start removes it should this run
        // be killed.
        std::string pattern = tempFolder() + "/batch." + runTag() + ".XXXXXX";
        if (!::mkdtemp(pattern.data())) return -1;
        folder_ = pattern;
        const std::string exe = selfExecutable();
        const size_t want = std::min(static_cast<size_t>(jobs), pending_);
        int startErrno = 0;
        for (size_t k = 0; k < want; ++k) {
            Worker w;
            w.home = folder_ + "/w" + std::to_string(k + 1);
            std::filesystem::create_directory(w.home, ec);
            // The worker loads the settings this run loaded, from a copy: it
            // never writes the program folder's settings file.
            if (fileExists(settingsPath()))
                std::filesystem::copy_file(settingsPath(), w.home + "/tavolin.ini", ec);
            if (!startWorker(w, exe, args)) {
                startErrno = errno;
                continue;
            }
            workers_.push_back(std::move(w));
        }
        if (workers_.empty()) {
            printStatusLine(formatLine(text::kWorkerStartFailed, std::strerror(startErrno)));
            std::filesystem::remove_all(folder_, ec);
            return -1;
        }
        for (auto& w : workers_)
            giveNext(w);
        loop();
        endProgressLine();
        std::filesystem::remove_all(folder_, ec);
        return 0;
    }

  private:
    static std::string formatLine(const char* format, const std::string& a,
                                  const std::string& b = std::string()) {
        std::vector<char> buf(std::strlen(format) + a.size() + b.size() + 64);
        std::snprintf(buf.data(), buf.size(), format, a.c_str(), b.c_str());
        return buf.data();
    }

    // A whole line above the progress line, which is drawn again after it.
    void say(const std::string& line) { printStatusLine(line); }

    void giveNext(Worker& w) {
        while (next_ < mainJob().jobTable.size() &&
               mainJob().jobTable[next_].result != EntryResult::NotRun)
            ++next_;
        if (interrupted() || next_ >= mainJob().jobTable.size()) {
            closeFd(w.in); // no more work: the worker ends
            return;
        }
        size_t i = next_++;
        w.entry = static_cast<long>(i);
        std::string line = "E " + std::to_string(i) + " " + toHex(names_[i]) + " " +
                           toHex(mainJob().jobTable[i].path) + "\n";
        if (!writeAll(w.in, line)) closeFd(w.in); // it has gone; its end is seen below
    }

    void onRecord(Worker& w, const std::string& line) {
        std::istringstream in(line);
        std::string tag, a, b, c, d;
        in >> tag >> a;
        long idx = 0;
        const long last = static_cast<long>(mainJob().jobTable.size()) - 1;
        if (tag == "T") {
            std::string t;
            if (fromHex(a, t)) window().statusText(t);
        } else if (tag == "P") {
            in >> b;
            long sec = 0;
            if (parseIndex(a, last, idx) && parseIndex(b, 1L << 30, sec))
                pos_[idx] = std::max(pos_[idx], static_cast<int>(sec)); // the end resets it to 0
        } else if (tag == "R") {
            std::string k, l;
            in >> b >> c >> l >> d >> k;
            long result = 0, lost = 0;
            std::string name, kept;
            char* end = nullptr;
            unsigned long long pcm = std::strtoull(c.c_str(), &end, 10);
            if (!parseIndex(a, last, idx) || idx != w.entry ||
                !parseIndex(b, static_cast<long>(EntryResult::Incomplete), result) ||
                !parseIndex(l, 4095, lost) || c.empty() || *end != '\0' || !fromHex(d, name) ||
                (!k.empty() && !fromHex(k, kept)))
                return;
            JobEntry& e = mainJob().jobTable[idx];
            e.result = static_cast<EntryResult>(result);
            e.pcmBytes = pcm;
            e.outputName = name;
            e.keptEarlier = kept;
            e.lostError = static_cast<int>(lost);
            ++done_;
            w.entry = -1;
            giveNext(w);
        }
    }

    // Takes the complete lines out of `buf`.
    template <typename F> static void lines(std::string& buf, F&& each) {
        size_t start = 0;
        for (size_t nl; (nl = buf.find('\n', start)) != std::string::npos; start = nl + 1)
            each(buf.substr(start, nl - start));
        buf.erase(0, start);
    }

    // Reads what one pipe holds; false at its end.
    static bool drain(int& fd, std::string& buf) {
        char chunk[4096];
        ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) return true;
        if (n <= 0) {
            closeFd(fd);
            return false;
        }
        buf.append(chunk, static_cast<size_t>(n));
        return true;
    }

    void finish(Worker& w) {
        closeFd(w.in);
        int status = 0;
        while (::waitpid(w.pid, &status, 0) < 0 && errno == EINTR) {
        }
        if (!w.errBuf.empty()) say(w.errBuf);
        bool normal = WIFEXITED(status) && (WEXITSTATUS(status) == 0 || forwarded_);
        if (w.entry >= 0 && !normal) {
            say(formatLine(text::kWorkerLost, mainJob().jobTable[w.entry].path, endReason(status)));
        }
        w.pid = -1;
        w.entry = -1;
    }

    void forwardStop() {
        int sig = interruptSignal() ? interruptSignal() : SIGINT;
        for (auto& w : workers_) {
            if (w.entry >= 0) stopped_[static_cast<size_t>(w.entry)] = true;
            if (w.pid > 0) ::kill(w.pid, sig);
            closeFd(w.in);
        }
        forwarded_ = true;
    }

    void showProgress() {
        long long at = 0;
        for (size_t i = 0; i < mainJob().jobTable.size(); ++i) {
            int d = mainJob().jobTable[i].durationSec > 0 ? mainJob().jobTable[i].durationSec : 0;
            at += mainJob().jobTable[i].result != EntryResult::NotRun ? d : std::min(pos_[i], d);
        }
        // The position is the batch's: so are the counter (entries finished)
        // and the names (every entry being converted).
        ProgressInfo p;
        p.entries = static_cast<int>(mainJob().jobTable.size());
        p.entry = static_cast<int>(std::min(done_, mainJob().jobTable.size()));
        p.countsDone = true;
        for (const auto& w : workers_) {
            if (w.entry < 0 || static_cast<size_t>(w.entry) >= mainJob().jobTable.size()) continue;
            const std::string& path = mainJob().jobTable[static_cast<size_t>(w.entry)].path;
            p.name += (p.name.empty() ? "" : ", ") + path.substr(path.rfind('/') + 1);
        }
        p.position = static_cast<double>(at);
        p.length = static_cast<double>(total_);
        p.elapsed = elapsedSeconds();
        cli::showProgress(p);
    }

    void loop() {
        for (;;) {
            if (interrupted() && !forwarded_) forwardStop();
            std::vector<pollfd> fds;
            std::vector<std::pair<Worker*, bool>> who; // worker, its stdout
            for (auto& w : workers_) {
                if (w.out >= 0) fds.push_back({w.out, POLLIN, 0}), who.push_back({&w, true});
                if (w.err >= 0) fds.push_back({w.err, POLLIN, 0}), who.push_back({&w, false});
            }
            for (auto& w : workers_)
                if (w.pid > 0 && w.out < 0 && w.err < 0) finish(w);
            if (fds.empty()) break;
            showProgress();
            int n = ::poll(fds.data(), fds.size(), 200);
            if (n < 0 && errno != EINTR) break;
            if (n <= 0) continue;
            for (size_t k = 0; k < fds.size(); ++k) {
                if (!(fds[k].revents & (POLLIN | POLLHUP | POLLERR))) continue;
                Worker& w = *who[k].first;
                if (who[k].second) {
                    drain(w.out, w.outBuf);
                    lines(w.outBuf, [&](const std::string& l) { onRecord(w, l); });
                } else {
                    drain(w.err, w.errBuf);
                    lines(w.errBuf, [&](const std::string& l) { say(l); });
                }
            }
        }
    }

    const std::vector<std::string>& names_;
    std::vector<int> pos_;
    std::vector<bool> stopped_;
    std::vector<Worker> workers_;
    std::string folder_;
    size_t next_ = 0;
    size_t done_ = 0;
    size_t pending_ = 0;
    long long total_ = 0;
    bool forwarded_ = false;
};

} // namespace

int runBatch(int jobs, const Args& workerArgs, const std::vector<std::string>& names,
             std::vector<bool>& stopped) {
    struct sigaction ignore {
    }, old{};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGPIPE, &ignore, &old); // a worker that went away is seen at its pipe's end
    Batch batch(names);
    int rc = batch.run(jobs, workerArgs);
    stopped = batch.stopped();
    ::sigaction(SIGPIPE, &old, nullptr);
    return rc;
}

int runBatchWorker() {
    static WorkerWindow w;
    setWindowPort(&w);
    installInterruptHandler();
    char* buf = nullptr;
    size_t cap = 0;
    for (;;) {
        errno = 0;
        ssize_t n = ::getline(&buf, &cap, stdin);
        if (n < 0) {
            if (errno == EINTR && !interrupted()) {
                std::clearerr(stdin);
                continue;
            }
            break;
        }
        std::istringstream in(std::string(buf, static_cast<size_t>(n)));
        std::string tag, a, b, c;
        in >> tag >> a >> b >> c;
        long idx = 0;
        std::string name, source;
        if (tag != "E" || !parseIndex(a, kMaxJobEntries, idx) || !fromHex(b, name) ||
            !fromHex(c, source))
            continue;
        if (interrupted()) {
            reportResult(idx, EntryResult::NotRun, 0, std::string());
            break;
        }
        resetMediaList();
        if (addMediaFile(source) < 0 || mediaList.rows.empty()) {
            reportResult(idx, EntryResult::NotRun, 0, std::string());
            continue;
        }
        for (auto& row : mediaList.rows)
            row.selected = true;
        mainJob().outputNames = {name};
        w.entry = idx;
        if (start_conversion() < 0) {
            reportResult(idx, EntryResult::NotRun, 0, std::string());
            w.entry = -1;
            continue;
        }
        if (interrupted()) running = false; // a stop that came while it started
        waitConversion();
        w.entry = -1;
        const JobEntry& e = mainJob().jobTable.front();
        reportResult(idx, e.result, e.pcmBytes, e.outputName, e.lostError, e.keptEarlier);
    }
    std::free(buf);
    return kOk;
}

} // namespace kestrel::cli
