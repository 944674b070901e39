// The self-playing EXE on the command line: 'extract' gets the MP3 back out
// of it, 'info' shows its descriptor.
#include "cli/cli.h"

#include "engine/convert/exe_output.h"
#include "platform/atomic_file.h"
#include "platform/paths.h"
#include "platform/profile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace kestrel::cli {

namespace {

const char* exeReadProblem(int rc) {
    switch (rc) {
    case kExeUnreadable:
        return "cannot be read";
    case kExeNotOurs:
        return "is no self-playing EXE made by this program";
    case kExeDamaged:
        return "is damaged: its CRC does not match";
    }
    return "cannot be read";
}

// FILE.exe -> FILE.mp3 in the current folder.
std::string defaultExtractName(const std::string& exePath) {
    std::string base = exePath.substr(exePath.find_last_of('/') + 1);
    size_t dot = base.find_last_of('.');
    if (dot != std::string::npos && dot > 0) base.resize(dot);
    return folderPath(currentFolder()) + base + ".mp3";
}

const char* versionName(int v) {
    return v == 0 ? "MPEG-1" : v == 1 ? "MPEG-2" : "MPEG-2.5";
}

} // namespace

bool showExeInfo(const std::string& path, bool json, bool& firstOut, int& rc) {
    ExeContents c;
    int r = readExeOutput(path, c, false);
    if (r == kExeNotOurs || r == kExeUnreadable) return false;
    const exe::Descriptor& d = c.descriptor;
    const bool whole = r == kExeOk;
    if (!whole) rc = kRefused;
    std::string description = gb18030ToUtf8(d.description);
    if (json) {
        std::printf("%s  {\"path\": %s, \"container\": \"self-playing EXE\", \"codec\": \"MP3\", "
                    "\"seconds\": %u, \"sampleRate\": %d, \"channels\": %d, "
                    "\"mpegVersion\": %d, \"variableRate\": %s, \"speedControl\": %s, "
                    "\"password\": %s, \"description\": %s, \"mp3Bytes\": %u, "
                    "\"fileSize\": %llu, \"whole\": %s}",
                    firstOut ? "" : ",\n", jsonString(path).c_str(), d.seconds, d.outRate,
                    d.channels, d.mpegVersion, d.variableRate ? "true" : "false",
                    d.speedControl ? "true" : "false", d.passwordOn ? "true" : "false",
                    jsonString(description).c_str(), d.maskedBytes,
                    static_cast<unsigned long long>(c.fileSize), whole ? "true" : "false");
        firstOut = false;
    } else {
        std::printf("%s\n  container: self-playing EXE\n  codec: MP3 (%s, %s bit rate)\n"
                    "  playing time: %u s\n  sample rate: %d Hz\n  channels: %d\n"
                    "  speed control: %s\n  password: %s\n  description: %s\n"
                    "  MP3 data: %u bytes%s\n",
                    path.c_str(), versionName(d.mpegVersion),
                    d.variableRate ? "variable" : "constant", d.seconds, d.outRate, d.channels,
                    d.speedControl ? "yes" : "no", d.passwordOn ? "yes" : "no", description.c_str(),
                    d.maskedBytes, whole ? "" : " (damaged: CRC mismatch)");
    }
    return true;
}

int cmdExtract(const Args& args) {
    const Command& self = *findCommand("extract");
    std::string outName, password, file;
    bool replace = false, havePassword = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= args.size()) return false;
            out = args[++i];
            return true;
        };
        if (a == "-o") {
            if (!value(outName) || outName.empty()) return usageError(self, "-o needs a file name");
        } else if (a == "--password") {
            if (!value(password)) return usageError(self, "--password needs the password");
            havePassword = true;
        } else if (a == "-y") {
            replace = true;
        } else if (a.rfind("-", 0) == 0) {
            return usageError(self, "unknown option " + a);
        } else if (file.empty()) {
            file = a;
        } else {
            return usageError(self, "one EXE at a time");
        }
    }
    if (file.empty()) return usageError(self, "no file given");
    ExeContents c;
    int r = readExeOutput(file, c, true);
    if (r != kExeOk) {
        std::fprintf(stderr, "kestrel-cli extract: %s %s\n", file.c_str(), exeReadProblem(r));
        return kRefused;
    }
    const exe::Descriptor& d = c.descriptor;
    if (d.passwordOn && (!havePassword || utf8ToGb18030(password) != d.password)) {
        std::fprintf(stderr, "kestrel-cli extract: %s: %s\n", file.c_str(),
                     havePassword ? "wrong password" : "the EXE has a password: give --password");
        return kRefused;
    }
    if (outName.empty()) outName = defaultExtractName(file);
    if (fileExists(outName) && sameFile(outName, file)) {
        std::fprintf(stderr, "kestrel-cli extract: %s is the EXE itself\n", outName.c_str());
        return kRefused;
    }
    if (fileExists(outName) && !replace) {
        std::fprintf(stderr, "kestrel-cli extract: %s exists (-y replaces it)\n", outName.c_str());
        return kRefused;
    }
    AtomicFile out;
    if (out.open(outName, AtomicFile::Mode::Replace) != 0 ||
        !out.write(c.mp3.data(), c.mp3.size()) || out.commit() != 0) {
        std::fprintf(stderr, "kestrel-cli extract: cannot write %s: %s\n", outName.c_str(),
                     std::strerror(out.error() ? out.error() : EIO));
        return kRefused;
    }
    std::printf("%s\t%zu\n", out.finalName().c_str(), c.mp3.size());
    return kOk;
}

} // namespace kestrel::cli
