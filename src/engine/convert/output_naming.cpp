#include "engine/convert/output_naming.h"

#include "engine/convert/texts.h"
#include "engine/settings/settings.h"
#include "platform/paths.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace kestrel {

namespace {

std::string cut(std::string s) {
    if (s.size() > kMaxOutputName) s.resize(kMaxOutputName);
    return s;
}

} // namespace

std::string sourceBaseName(const std::string& sourcePath) {
    size_t slash = sourcePath.rfind('/');
    std::string base = slash == std::string::npos ? sourcePath : sourcePath.substr(slash + 1);
    size_t dot = base.rfind('.');
    return dot == std::string::npos ? std::string() : base.substr(0, dot);
}

std::string make_output_name(int, const std::string& sourcePath, int outputType, int saveMode,
                             const std::tm& t, const std::string& savePath) {
    const char* ext = outputExtension(outputType);
    std::vector<char> buf(savePath.size() + sourcePath.size() + 64);
    if (saveMode == 1) {
        std::snprintf(buf.data(), buf.size(), text::kJoinedNameFormat, savePath.c_str(),
                      t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec,
                      ext);
    } else {
        std::string tail = sourceBaseName(sourcePath) + ext;
        std::snprintf(buf.data(), buf.size(), text::kPerFileNameFormat, savePath.c_str(),
                      t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec,
                      tail.c_str());
    }
    return cut(buf.data());
}

std::string uniqueInJob(JobNames& job, const std::string& name) {
    auto taken = [&](const std::string& n) {
        return std::find(job.given.begin(), job.given.end(), n) != job.given.end();
    };
    std::string result = name;
    for (int k = 2; taken(result); ++k)
        result = suffixedName(name, k);
    job.given.push_back(result);
    return result;
}

std::string writeFailureReason(int err) {
    if (err == ENOSPC || err == EDQUOT) return text::kReasonDiskFull;
    if (err == EFBIG) return text::kReasonFileTooLarge;
    return std::strerror(err);
}

bool outputIsSource(const std::string& outputName, const std::vector<std::string>& sources) {
    for (const auto& s : sources)
        if (s == outputName || sameFile(s, outputName)) return true;
    return false;
}

} // namespace kestrel
