// One language per run: the engine's catalogue texts (Chinese, as the window
// shows them) with their English twins. A message arrives formatted; it is
// matched against the Chinese texts (each "%s", "%d" ... standing for what
// was filled in) and written again with the twin and the same values. Under a
// Chinese locale, and for a text without a twin, the text stays as it is.
//
// The twins live in one table per subsystem (texts_en_*.h), each entry keyed
// by the catalogue's own constant.
#pragma once

#include <string>
#include <vector>

namespace kestrel::cli {

struct TextTwin {
    const char* zh; // the catalogue's text
    const char* en; // its English twin: the same conversions in the same order
};

// Every twin of every subsystem.
const std::vector<TextTwin>& textTwins();

// `text` in the run's language.
std::string localize(const std::string& text);
// `text` in English (the Chinese locale aside).
std::string englishOf(const std::string& text);
// A usage error of the command line's own (English) in the run's language.
std::string localizeUsage(const std::string& text);
// The usage errors' twins.
const std::vector<TextTwin>& usageTwins();

// The values a format's conversions matched in `text`; false when `text` is
// no filling-in of `format`.
bool matchFormat(const char* format, const std::string& text, std::vector<std::string>& values);
// `format` with its conversions replaced by `values`, in order.
std::string fillFormat(const char* format, const std::vector<std::string>& values);

} // namespace kestrel::cli
