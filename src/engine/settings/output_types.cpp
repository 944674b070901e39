#include "engine/settings/output_types.h"

#include "engine/settings/settings.h"

namespace kestrel {

namespace {

constexpr const char* kNames[] = {"mp3",  "exe", "wav", "wma", "aac",
                                  "adts", "m4a", "amr", "flv", "avi"};
constexpr int kTypes = static_cast<int>(sizeof kNames / sizeof kNames[0]);
static_assert(kTypes == kOutAvi + 1, "one name for each output type");

} // namespace

const char* outputTypeName(int t) {
    return t >= 0 && t < kTypes ? kNames[t] : "";
}

int outputTypeOfName(const std::string& name) {
    for (int t = 0; t < kTypes; ++t)
        if (name == kNames[t]) return t;
    return -1;
}

std::string outputTypeNames() {
    std::string all;
    for (int t = 0; t < kTypes; ++t) {
        if (t) all += ' ';
        all += kNames[t];
    }
    return all;
}

} // namespace kestrel
