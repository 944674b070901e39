#include "cli/cli.h"

#include "engine/settings/settings.h"

#include <cstdio>

namespace kestrel::cli {

int cmdSettings(const Args& args) {
    if (!args.empty()) return usageError(commands()[0], "unexpected argument " + args[0]);
    startEngine(false, false);
    for (const auto& line : settingLines(settings))
        std::printf("%s=%s\n", line.key, line.value.c_str());
    std::printf("out_rate=%d\nout_channels=%d\nchannel_pick=%d\nout_version=%d\n",
                outputFormat.out_rate, outputFormat.out_channels, outputFormat.channel_pick,
                outputFormat.out_version);
    return kOk;
}

} // namespace kestrel::cli
