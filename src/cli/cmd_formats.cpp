#include "cli/cli.h"

#include "platform/wm_writer.h"

#include <cstdio>

namespace kestrel::cli {

int cmdFormats(const Args& args) {
    const Command& self = *findCommand("formats");
    if (args.size() != 1 || args[0] != "wma") return usageError(self, "formats needs wma");
    const auto codecs = wmaCodecs();
    for (size_t c = 0; c < codecs.size(); ++c) {
        std::printf("codec %zu: %s\n", c, codecs[c].name);
        for (const auto& item : wmaFormatList(static_cast<int>(c)))
            std::printf("  %d\t%s\n", item.value, item.description.c_str());
    }
    return kOk;
}

} // namespace kestrel::cli
