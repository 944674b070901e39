#include "cli/cli.h"

#include "engine/catalogue/media_list.h"

namespace kestrel::cli {

int cmdListAdd(const Args& args) {
    if (args.empty()) {
        for (const auto& c : commands())
            if (std::string(c.name) == "list") return usageError(c, "add needs at least one file");
    }
    startEngine(true);
    int rc = kOk;
    const int before = mediaList.count;
    for (const auto& path : args) {
        if (addMediaFile(path) < 0) rc = kRefused;
    }
    // Another command may have changed the file meanwhile: only this
    // change goes into it.
    std::vector<MediaRecord> added(mediaList.records + before, mediaList.records + mediaList.count);
    if (saveMediaListChanges(added, {}) < 0) rc = kRefused;
    return rc;
}

} // namespace kestrel::cli
