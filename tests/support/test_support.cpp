#include "support/test_support.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace kestrel::test {

std::string fixture(const std::string& name) {
    const char* dir = std::getenv("KESTREL_FIXTURES");
    return std::string(dir && *dir ? dir : KESTREL_FIXTURE_DIR) + "/" + name;
}

bool haveFixture(const std::string& name) {
    return std::filesystem::exists(fixture(name));
}

TempDir::TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "kestrel-test-XXXXXX").string();
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    char* p = ::mkdtemp(buf.data());
    path_ = p ? p : "";
}

TempDir::~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
}

CurrentFolder::CurrentFolder(const std::string& dir) {
    std::error_code ec;
    old_ = std::filesystem::current_path(ec).string();
    const char* pwd = std::getenv("PWD");
    oldPwd_ = pwd ? pwd : "";
    std::filesystem::current_path(dir, ec);
    ::setenv("PWD", dir.c_str(), 1);
}

CurrentFolder::~CurrentFolder() {
    std::error_code ec;
    std::filesystem::current_path(old_, ec);
    ::setenv("PWD", oldPwd_.c_str(), 1);
}

std::vector<uint8_t> readFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

void writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream f(path, std::ios::binary);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> cdxaTrack(const std::vector<uint8_t>& ps) {
    std::vector<uint8_t> dat = {'R', 'I', 'F', 'F', 0,   0,   0,   0, 'C', 'D', 'X',
                                'A', 'f', 'm', 't', ' ', 16,  0,   0, 0,   0,   0,
                                0,   0,   0,   0,   0,   0,   0,   0, 0,   0,   0,
                                0,   0,   0,   'd', 'a', 't', 'a', 0, 0,   0,   0};
    auto bcd = [](size_t v) { return uint8_t(((v / 10) << 4) | (v % 10)); };
    for (size_t s = 0; s * 2324 + 2324 <= ps.size(); ++s) {
        size_t lba = s + 150;
        std::vector<uint8_t> sector = {0x00,
                                       0xFF,
                                       0xFF,
                                       0xFF,
                                       0xFF,
                                       0xFF,
                                       0xFF,
                                       0xFF,
                                       0xFF,
                                       0xFF,
                                       0xFF,
                                       0x00,
                                       bcd(lba / 4500),
                                       bcd(lba / 75 % 60),
                                       bcd(lba % 75),
                                       0x02,
                                       1,
                                       1,
                                       0x62,
                                       0x0F,
                                       1,
                                       1,
                                       0x62,
                                       0x0F};
        sector.insert(sector.end(), ps.begin() + long(s * 2324),
                      ps.begin() + long(s * 2324 + 2324));
        sector.insert(sector.end(), {0x5A, 0x00, 0x13, 0x37}); // EDC
        dat.insert(dat.end(), sector.begin(), sector.end());
    }
    return dat;
}

RecordingMessages::RecordingMessages() {
    setMessagePort(this);
}
RecordingMessages::~RecordingMessages() {
    setMessagePort(nullptr);
}

MsgAnswer RecordingMessages::show(const std::string& caption, const std::string& text,
                                  MsgButtons buttons, MsgAnswer) {
    std::lock_guard<std::mutex> lock(m_);
    entries_.push_back({caption, text, 0});
    return buttons == MsgButtons::Ok ? MsgAnswer::Ok : answer;
}

void RecordingMessages::showFailure(const std::string& caption, const std::string& text,
                                    int systemError) {
    std::lock_guard<std::mutex> lock(m_);
    entries_.push_back({caption, text, systemError});
}

std::vector<RecordingMessages::Entry> RecordingMessages::entries() const {
    std::lock_guard<std::mutex> lock(m_);
    return entries_;
}

std::string RecordingMessages::lastText() const {
    std::lock_guard<std::mutex> lock(m_);
    return entries_.empty() ? std::string() : entries_.back().text;
}

void RecordingMessages::clear() {
    std::lock_guard<std::mutex> lock(m_);
    entries_.clear();
}

int run(const std::string& command) {
    int rc = std::system(command.c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

std::string capture(const std::string& command) {
    std::string out;
    FILE* p = ::popen(command.c_str(), "r");
    if (!p) return out;
    std::array<char, 4096> buf;
    size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0)
        out.append(buf.data(), n);
    ::pclose(p);
    return out;
}

int putSecondProgramMapsFirst(std::vector<uint8_t>& ts) {
    int swaps = 0;
    for (size_t i = 0; i + 376 <= ts.size(); i += 188) {
        int pid = ((ts[i + 1] & 0x1F) << 8) | ts[i + 2];
        int next = ((ts[i + 189] & 0x1F) << 8) | ts[i + 190];
        if (pid == 0x1000 && next == 0x1001) {
            std::swap_ranges(ts.begin() + long(i), ts.begin() + long(i + 188),
                             ts.begin() + long(i + 188));
            ++swaps;
            i += 188;
        }
    }
    return swaps;
}

CommandResult runApart(const std::string& command) {
    TempDir logs;
    CommandResult r;
    r.status = run("{ " + command + " ; } >'" + logs.file("out") + "' 2>'" + logs.file("err") +
                   "' </dev/null");
    auto o = readFile(logs.file("out")), e = readFile(logs.file("err"));
    r.out.assign(o.begin(), o.end());
    r.err.assign(e.begin(), e.end());
    return r;
}

std::vector<int16_t> diskSamples(const std::string& path) {
    const auto bytes = readFile(path);
    std::vector<int16_t> s(bytes.size() / 2);
    std::memcpy(s.data(), bytes.data(), s.size() * 2);
    return s;
}

PlaybackComparison comparePlayback(const std::vector<int16_t>& expected,
                                   const std::vector<int16_t>& played, size_t tail) {
    PlaybackComparison r;
    size_t a = 0, b = 0;
    while (a < expected.size() && expected[a] == 0)
        ++a;
    while (b < played.size() && played[b] == 0)
        ++b;
    if (a == expected.size() || b == played.size()) return r;
    const size_t n = expected.size() - a;
    const size_t end = a + (n > tail ? n - tail : 0);
    size_t i = a, j = b;
    while (i < end && j < played.size()) {
        if (played[j] == expected[i]) {
            ++i, ++j, ++r.compared;
        } else if (played[j] == 0) {
            ++j, ++r.insertedSilence;
        } else {
            ++i, ++j, ++r.compared, ++r.mismatches;
        }
    }
    r.complete = i == end;
    return r;
}

std::vector<int16_t> withoutDropouts(const std::vector<int16_t>& s, int channels,
                                     size_t minFrames) {
    const size_t ch = static_cast<size_t>(channels > 0 ? channels : 1);
    const size_t frames = s.size() / ch;
    std::vector<int16_t> out;
    out.reserve(s.size());
    size_t f = 0;
    while (f < frames) {
        size_t g = f;
        while (g < frames && std::all_of(s.begin() + long(g * ch), s.begin() + long(g * ch + ch),
                                         [](int16_t v) { return v == 0; }))
            ++g;
        if (g > f) { // a silent run
            if (g - f < minFrames)
                out.insert(out.end(), s.begin() + long(f * ch), s.begin() + long(g * ch));
            f = g;
            continue;
        }
        out.insert(out.end(), s.begin() + long(f * ch), s.begin() + long(f * ch + ch));
        ++f;
    }
    return out;
}

double ffprobeDuration(const std::string& path) {
    return std::atof(capture("ffprobe -v error -show_entries format=duration -of csv=p=0 '" + path +
                             "' 2>/dev/null")
                         .c_str());
}

} // namespace kestrel::test
