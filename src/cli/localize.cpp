#include "cli/localize.h"

#include "cli/texts.h"
#include "cli/texts_en_catalogue.h"
#include "cli/texts_en_convert.h"
#include "cli/texts_en_libraries.h"
#include "cli/texts_en_pipeline.h"
#include "cli/texts_en_playback.h"
#include "cli/texts_en_settings.h"
#include "cli/texts_zh_usage.h"

#include <cctype>
#include <cstring>
#include <iterator>
#include <span>

namespace kestrel::cli {

namespace {

// The length of the conversion at `f` (which starts with '%'), and its letter.
size_t conversionAt(const char* f, char& letter) {
    size_t n = 1;
    while (f[n] && std::strchr("-+ #0123456789.lhz", f[n]))
        ++n;
    letter = f[n];
    return f[n] ? n + 1 : n;
}

// Whether `c` can stand in the value of a conversion of `letter`.
bool fits(char letter, char c) {
    switch (letter) {
    case 'd':
    case 'i':
    case 'u':
        return std::isdigit(static_cast<unsigned char>(c)) || c == '-';
    case 'x':
    case 'X':
        return std::isxdigit(static_cast<unsigned char>(c));
    case 'f':
    case 'g':
        return std::isdigit(static_cast<unsigned char>(c)) || c == '.' || c == '-';
    default:
        return true;
    }
}

bool matchAt(const char* f, const char* s, std::vector<std::string>& values) {
    while (*f) {
        if (*f == '%' && f[1] == '%') {
            if (*s != '%') return false;
            f += 2;
            ++s;
            continue;
        }
        if (*f == '%') {
            char letter = 0;
            const char* rest = f + conversionAt(f, letter);
            const size_t minimum = letter == 's' ? 0 : 1;
            // The shortest value that lets the rest match.
            size_t longest = 0;
            while (s[longest] && fits(letter, s[longest]))
                ++longest;
            for (size_t n = minimum; n <= longest; ++n) {
                values.emplace_back(s, n);
                if (matchAt(rest, s + n, values)) return true;
                values.pop_back();
            }
            return false;
        }
        if (*f != *s) return false;
        ++f;
        ++s;
    }
    return *s == '\0';
}

const std::vector<TextTwin>& allTwins() {
    static const std::vector<TextTwin> all = [] {
        std::vector<TextTwin> v;
        for (const auto& table :
             {std::span<const TextTwin>(kCatalogueTwins), std::span<const TextTwin>(kConvertTwins),
              std::span<const TextTwin>(kLibrariesTwins), std::span<const TextTwin>(kPipelineTwins),
              std::span<const TextTwin>(kPlaybackTwins), std::span<const TextTwin>(kSettingsTwins)})
            for (const TextTwin& t : table)
                v.push_back(t);
        return v;
    }();
    return all;
}

} // namespace

const std::vector<TextTwin>& textTwins() {
    return allTwins();
}

bool matchFormat(const char* format, const std::string& text, std::vector<std::string>& values) {
    values.clear();
    return matchAt(format, text.c_str(), values);
}

std::string fillFormat(const char* format, const std::vector<std::string>& values) {
    std::string out;
    size_t k = 0;
    for (const char* f = format; *f;) {
        if (*f == '%' && f[1] == '%') {
            out += '%';
            f += 2;
        } else if (*f == '%') {
            char letter = 0;
            f += conversionAt(f, letter);
            if (k < values.size()) out += values[k++];
        } else {
            out += *f++;
        }
    }
    return out;
}

std::string englishOf(const std::string& text) {
    std::vector<std::string> values;
    for (const auto& t : allTwins())
        if (matchFormat(t.zh, text, values)) {
            // A value may be a catalogue text itself (a reason filled in).
            for (auto& v : values)
                if (!v.empty() && v.size() < text.size()) v = englishOf(v);
            return fillFormat(t.en, values);
        }
    // A text with a system's reason after it: "TEXT: REASON".
    for (size_t colon = text.rfind(": "); colon != std::string::npos && colon > 0;
         colon = text.rfind(": ", colon - 1)) {
        const std::string head = text.substr(0, colon);
        for (const auto& t : allTwins())
            if (matchFormat(t.zh, head, values))
                return fillFormat(t.en, values) + text.substr(colon);
        if (colon == 0) break;
    }
    return text;
}

const std::vector<TextTwin>& usageTwins() {
    static const std::vector<TextTwin> all(std::begin(kUsageTwins), std::end(kUsageTwins));
    return all;
}

std::string localizeUsage(const std::string& text) {
    static const bool chinese = chineseLocale();
    if (!chinese) return text;
    std::vector<std::string> values;
    for (const auto& t : usageTwins())
        if (matchFormat(t.en, text, values)) return fillFormat(t.zh, values);
    return text;
}

std::string localize(const std::string& text) {
    static const bool chinese = chineseLocale();
    return chinese ? text : englishOf(text);
}

} // namespace kestrel::cli
