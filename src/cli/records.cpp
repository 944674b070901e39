#include "cli/records.h"

#include "cli/cli.h"
#include "cli/terminal.h"

#include <cstdio>
#include <string>

namespace kestrel::cli {

namespace {

// One field of a record: its name and its value as JSON and as text.
struct Field {
    const char* name;
    std::string (*json)(const Record&);
    std::string (*text)(const Record&);
};

std::string fixed2(double v) {
    char b[64];
    std::snprintf(b, sizeof b, "%.2f", v);
    return b;
}

// The one table of the common fields: both formats follow it.
const Field kFields[] = {
    {"output", [](const Record& r) { return r.output.empty() ? "null" : jsonString(r.output); },
     [](const Record& r) { return r.output.empty() ? std::string("-") : r.output; }},
    {"source", [](const Record& r) { return jsonString(r.source); },
     [](const Record& r) { return r.source; }},
    {"seconds", [](const Record& r) { return jsonNumber(r.seconds, 3); },
     [](const Record& r) { return fixed2(r.seconds); }},
    {"bytes", [](const Record& r) { return std::to_string(r.bytes); },
     [](const Record& r) { return std::to_string(r.bytes); }},
    {"status", [](const Record& r) { return jsonString(statusWord(r.status)); },
     [](const Record& r) { return std::string(statusWord(r.status)); }},
    {"reason", [](const Record& r) { return r.reason.empty() ? "null" : jsonString(r.reason); },
     [](const Record& r) { return r.reason; }},
};

// A text field of a TSV line: tabs and line ends would split it.
std::string tsvField(std::string s) {
    for (char& c : s)
        if (c == '\t' || c == '\n' || c == '\r') c = ' ';
    return s;
}

} // namespace

const char* statusWord(RecordStatus s) {
    switch (s) {
    case RecordStatus::Converted:
        return "converted";
    case RecordStatus::Incomplete:
        return "incomplete";
    case RecordStatus::NoSound:
        return "no-sound";
    case RecordStatus::Failed:
        return "failed";
    case RecordStatus::Skipped:
        return "skipped";
    case RecordStatus::Analysed:
        return "analysed";
    }
    return "failed";
}

const std::vector<const char*>& recordFieldNames() {
    static const std::vector<const char*> names = [] {
        std::vector<const char*> n;
        for (const auto& f : kFields)
            n.push_back(f.name);
        return n;
    }();
    return names;
}

void printRecords(const std::vector<Record>& records, bool json) {
    MachineOutput machine; // UTF-8 JSON and paths as bytes, whatever the terminal's encoding
    if (json) {
        std::string o = "[";
        for (size_t i = 0; i < records.size(); ++i) {
            o += i ? ",\n  {" : "\n  {";
            bool first = true;
            for (const auto& f : kFields) {
                o += (first ? "" : ", ") + jsonString(f.name) + ": " + f.json(records[i]);
                first = false;
            }
            for (const auto& [name, value] : records[i].extra)
                o += ", " + jsonString(name) + ": " + value;
            o += "}";
        }
        o += records.empty() ? "]\n" : "\n]\n";
        std::fputs(o.c_str(), stdout);
    } else {
        // One line per output: a joined output once, with the first of its
        // inputs that was not converted whole, else its first input.
        for (size_t i = 0; i < records.size(); ++i) {
            if (records[i].output.empty()) continue;
            bool listed = false;
            const Record* shown = &records[i];
            for (size_t k = 0; k < records.size(); ++k) {
                if (records[k].output != records[i].output) continue;
                if (k < i) listed = true;
                if (shown->status == RecordStatus::Converted &&
                    records[k].status != RecordStatus::Converted)
                    shown = &records[k];
            }
            if (listed) continue;
            std::string line;
            bool first = true;
            for (const auto& f : kFields) {
                if (!first) line += '\t';
                line += tsvField(f.text(*shown));
                first = false;
            }
            std::printf("%s\n", line.c_str());
        }
    }
    std::fflush(stdout);
}

std::string absoluteName(const std::string& path) {
    if (path.empty() || path == "-" || path[0] == '/') return path;
    std::string dir = currentFolder();
    std::string p = path;
    while (p.rfind("./", 0) == 0)
        p.erase(0, 2);
    return folderPath(dir) + p;
}

} // namespace kestrel::cli
