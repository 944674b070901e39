// Small text helpers shared by the subsystems' message code.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace kestrel {

// A catalogue text with one "%s" (a path or a name) filled in; never cut short.
inline std::string formatText(const char* format, const std::string& arg) {
    std::vector<char> buf(arg.size() + 512);
    std::snprintf(buf.data(), buf.size(), format, arg.c_str());
    return buf.data();
}

// The same with two or more "%s" filled in, in order.
template <typename... More>
std::string formatText(const char* format, const std::string& a, const std::string& b,
                       const More&... more) {
    std::vector<char> buf(a.size() + b.size() + (std::string(more).size() + ... + 0) + 512);
    std::snprintf(buf.data(), buf.size(), format, a.c_str(), b.c_str(),
                  std::string(more).c_str()...);
    return buf.data();
}

inline bool startsWith(const std::string& s, const char* prefix) {
    return s.rfind(prefix, 0) == 0;
}

} // namespace kestrel
