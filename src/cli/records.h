// The machine format of convert, fast, extract and info: one record per input
// (refused inputs too), the same fields in the same order for every command,
// printed as one JSON array (--json) or as one tab-separated line per output
// written. docs/kestrel-cli.schema.json describes the JSON.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kestrel::cli {

enum class RecordStatus { Converted, Incomplete, NoSound, Failed, Skipped, Analysed };

// The word of a status in both formats ("converted", "no-sound" ...).
const char* statusWord(RecordStatus s);

struct Record {
    std::string output; // the output actually written, absolute; empty when none
    std::string source; // the input, absolute
    double seconds = 0; // the output's whole playing time (info: the input's)
    uint64_t bytes = 0; // the output's size (info: the input's)
    RecordStatus status = RecordStatus::Failed;
    std::string reason; // why it is not converted whole; empty when it is
    // Further JSON members of one command (name, JSON value), after the
    // common fields.
    std::vector<std::pair<std::string, std::string>> extra;
};

// The common fields' names, in their order.
const std::vector<const char*>& recordFieldNames();

// Prints `records` on stdout: a JSON array of all of them, or one line
// OUTPUT<TAB>SOURCE<TAB>SECONDS<TAB>BYTES<TAB>STATUS<TAB>REASON per output
// written (the inputs of a joined output share one line).
void printRecords(const std::vector<Record>& records, bool json);

// `path` made absolute against the current folder; "-" stays "-".
std::string absoluteName(const std::string& path);

} // namespace kestrel::cli
