#include "cli/cli.h"

#include "engine/settings/settings.h"

#include <cstdio>

namespace kestrel::cli {

int cmdSettings(const Args& args) {
    if (!args.empty()) return usageError(commands()[0], "unexpected argument " + args[0]);
    startEngine(false, false);
    for (const auto& line : settingLines(settings, outputFormat))
        std::printf("%s=%s\n", line.key, line.value.c_str());
    return kOk;
}

} // namespace kestrel::cli
