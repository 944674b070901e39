#include "platform/mounts.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace kestrel {

namespace {

// The mount table writes blanks, tabs, newlines and backslashes in names as
// three octal digits after a backslash.
std::string unescapeMountField(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size()) {
            const char a = s[i + 1], b = s[i + 2], c = s[i + 3];
            if (a >= '0' && a <= '3' && b >= '0' && b <= '7' && c >= '0' && c <= '7') {
                out += static_cast<char>((a - '0') * 64 + (b - '0') * 8 + (c - '0'));
                i += 3;
                continue;
            }
        }
        out += s[i];
    }
    return out;
}

bool isOpticalType(const std::string& type) {
    return type == "iso9660" || type == "udf";
}

std::string mountTablePath() {
    const char* env = std::getenv("KESTREL_MOUNT_TABLE");
    return env && *env ? env : "/proc/self/mounts";
}

} // namespace

std::vector<std::string> parseOpticalMounts(const std::string& table) {
    std::vector<std::string> points;
    std::istringstream in(table);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string device, point, type;
        if (!(fields >> device >> point >> type)) continue;
        if (!isOpticalType(type)) continue;
        point = unescapeMountField(point);
        while (point.size() > 1 && point.back() == '/')
            point.pop_back();
        if (point.empty() || point[0] != '/') continue;
        if (std::find(points.begin(), points.end(), point) == points.end()) points.push_back(point);
    }
    return points;
}

std::vector<std::string> opticalMountPoints() {
    std::ifstream f(mountTablePath(), std::ios::binary);
    if (!f) return {};
    std::ostringstream s;
    s << f.rdbuf();
    return parseOpticalMounts(s.str());
}

bool isOnOpticalDisc(const std::string& path) {
    for (const auto& p : opticalMountPoints()) {
        if (p == "/") return true;
        if (path.size() > p.size() && path.compare(0, p.size(), p) == 0 && path[p.size()] == '/')
            return true;
        if (path == p) return true;
    }
    return false;
}

} // namespace kestrel
