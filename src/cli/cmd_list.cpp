#include "cli/cli.h"
#include "cli/localize.h"
#include "cli/texts.h"
#include "cli/terminal.h"

#include "engine/catalogue/media_list.h"
#include "engine/catalogue/texts.h"

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <unistd.h>

namespace kestrel::cli {

namespace {

const Command& self() {
    for (const auto& c : commands())
        if (std::string(c.name) == "list") return c;
    return commands()[0];
}

void printRows(bool json) {
    // The record's field names, as 'info --json' has them; every column but
    // the path and the type is a number.
    static const char* names[8] = {"serial",      "path",       "fileSize", "typeName",
                                   "durationSec", "sampleRate", "channels", "kind"};
    std::optional<MachineOutput> machine; // JSON is UTF-8 whatever the terminal's encoding
    if (json) machine.emplace();
    if (json)
        std::puts("[");
    else if (::isatty(STDOUT_FILENO)) {
        for (int c = 0; c < 8; ++c)
            std::printf("%s%s", c ? "\t" : "", localize(kestrel::text::kColumnHeaders[c]).c_str());
        std::printf("\n");
    }
    for (size_t r = 0; r < mediaList.rows.size(); ++r) {
        const auto& row = mediaList.rows[r];
        if (json) {
            std::printf("  {");
            for (int c = 0; c < 8; ++c) {
                const bool text = c == 1 || c == 3;
                const std::string& v = row.columns[c];
                std::printf("%s%s: %s", c ? ", " : "", jsonString(names[c]).c_str(),
                            text ? jsonString(v).c_str() : (v.empty() ? "null" : v.c_str()));
            }
            std::printf("}%s\n", r + 1 < mediaList.rows.size() ? "," : "");
        } else {
            for (int c = 0; c < 8; ++c)
                std::printf("%s%s", c ? "\t" : "", row.columns[c].c_str());
            std::printf("\n");
        }
    }
    if (json) std::puts("]");
}

} // namespace

int cmdList(const Args& args) {
    if (args.empty() || args[0] == "--json") {
        if (args.size() > 1) return usageError(self(), "unexpected argument " + args[1]);
        startEngine(true);
        printRows(!args.empty());
        return kOk;
    }
    const std::string& sub = args[0];
    if (sub == "save") {
        if (args.size() > 1) return usageError(self(), "unexpected argument " + args[1]);
        startEngine(true);
        return saveMediaListChanges({}, {}) < 0 ? kRefused : kOk;
    }
    if (sub == "delete") {
        if (args.size() < 2) return usageError(self(), "delete needs at least one serial number");
        std::vector<int> serials;
        for (size_t i = 1; i < args.size(); ++i) {
            char* end = nullptr;
            long v = std::strtol(args[i].c_str(), &end, 10);
            if (args[i].empty() || *end != '\0' || v < 0)
                return usageError(self(), "not a serial number: " + args[i]);
            serials.push_back(static_cast<int>(v));
        }
        startEngine(true);
        for (int s : serials) {
            if (!selectSerial(s))
                std::fprintf(
                    stderr,
                    cliText("kestrel-cli list: no row %d\n", "kestrel-cli list: 没有第 %d 行\n"),
                    s);
        }
        std::vector<std::string> removed;
        for (const auto& row : mediaList.rows)
            if (row.selected && recordForSerial(row.serial)) removed.push_back(row.columns[1]);
        if (deleteSelectedRows() < 0) return kRefused;
        return saveMediaListChanges({}, removed) < 0 ? kRefused : kOk;
    }
    if (sub == "add") return cmdListAdd(Args(args.begin() + 1, args.end()));
    return usageError(self(), "unknown list command '" + sub + "'");
}

} // namespace kestrel::cli
