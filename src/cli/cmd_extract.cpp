// The self-playing EXE on the command line: 'extract' gets the MP3 back out
// of it, 'info' shows its descriptor.
#include "cli/cli.h"
#include "cli/texts.h"
#include "engine/core/text_format.h"
#include "cli/records.h"

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
        return cliText("cannot be read", "无法读取");
    case kExeNotOurs:
        return cliText("is no self-playing EXE made by this program",
                       "不是本程序生成的播放EXE文件");
    case kExeDamaged:
        return cliText("is damaged: its CRC does not match", "已损坏：CRC不符");
    }
    return cliText("cannot be read", "无法读取");
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

bool showExeInfo(const std::string& path, bool json, std::vector<Record>& records, int& rc) {
    ExeContents c;
    int r = readExeOutput(path, c, false);
    if (r == kExeNotOurs || r == kExeUnreadable) return false;
    const exe::Descriptor& d = c.descriptor;
    const bool whole = r == kExeOk;
    if (!whole) rc = kRefused;
    std::string description = gb18030ToUtf8(d.description);
    if (json) {
        Record out;
        out.source = absoluteName(path);
        out.seconds = d.seconds;
        out.bytes = c.fileSize;
        out.status = whole ? RecordStatus::Analysed : RecordStatus::Failed;
        if (!whole) out.reason = cliText("damaged: CRC mismatch", "已损坏：CRC不符");
        auto flag = [](bool b) { return std::string(b ? "true" : "false"); };
        out.extra = {{"path", jsonString(path)},
                     {"container", "\"self-playing EXE\""},
                     {"codec", "\"MP3\""},
                     {"sampleRate", std::to_string(d.outRate)},
                     {"channels", std::to_string(d.channels)},
                     {"mpegVersion", std::to_string(d.mpegVersion)},
                     {"variableRate", flag(d.variableRate)},
                     {"speedControl", flag(d.speedControl)},
                     {"password", flag(d.passwordOn)},
                     {"description", jsonString(description)},
                     {"mp3Bytes", std::to_string(d.maskedBytes)},
                     {"whole", flag(whole)}};
        records.push_back(out);
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
    bool replace = false, havePassword = false, json = false;
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
        } else if (a == "--json") {
            json = true;
        } else if (a.rfind("-", 0) == 0) {
            return usageError(self, "unknown option " + a);
        } else if (file.empty()) {
            file = a;
        } else {
            return usageError(self, "one EXE at a time");
        }
    }
    if (file.empty()) return usageError(self, "no file given");
    Record rec;
    rec.source = absoluteName(file);
    // A refusal: its reason on stderr, and in the record of --json.
    auto refuse = [&](const std::string& reason) {
        rec.status = RecordStatus::Failed;
        rec.reason = reason;
        if (json) printRecords({rec}, true);
        std::fprintf(stderr, "kestrel-cli extract: %s: %s\n", file.c_str(), reason.c_str());
        return kRefused;
    };
    ExeContents c;
    int r = readExeOutput(file, c, true);
    if (r != kExeOk) return refuse(exeReadProblem(r));
    const exe::Descriptor& d = c.descriptor;
    if (d.passwordOn && (!havePassword || utf8ToGb18030(password) != d.password))
        return refuse(havePassword ? cliText("wrong password", "密码错误")
                                   : cliText("the EXE has a password: give --password",
                                             "该EXE文件有密码：请给出 --password"));
    if (c.mp3.empty()) // an EXE whose descriptor states no sound: no empty MP3
        return refuse(cliText("it holds no sound", "该EXE文件没有声音"));
    if (outName.empty()) outName = defaultExtractName(file);
    if (fileExists(outName) && sameFile(outName, file))
        return refuse(formatText(cliText("%s is the EXE itself", "%s 就是该EXE文件"), outName));
    if (fileExists(outName) && !replace) {
        rec.status = RecordStatus::Skipped;
        rec.reason =
            formatText(cliText("%s exists (-y replaces it)", "%s 已存在（-y 替换它）"), outName);
        if (json) printRecords({rec}, true);
        std::fprintf(stderr, "kestrel-cli extract: %s\n", rec.reason.c_str());
        return kRefused;
    }
    AtomicFile out;
    if (out.open(outName, AtomicFile::Mode::Replace) != 0 ||
        !out.write(c.mp3.data(), c.mp3.size()) || out.commit() != 0) {
        return refuse(formatText(cliText("cannot write %s", "无法写入 %s"), outName) + ": " +
                      std::strerror(out.error() ? out.error() : EIO));
    }
    rec.output = absoluteName(out.finalName());
    rec.seconds = d.seconds;
    rec.bytes = c.mp3.size();
    rec.status = RecordStatus::Converted;
    printRecords({rec}, json);
    return kOk;
}

} // namespace kestrel::cli
