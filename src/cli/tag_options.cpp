#include "cli/tag_options.h"

#include "cli/cli.h"

namespace kestrel::cli {

namespace {

constexpr size_t kMaxStemBytes = 240;

const char* const kTemplateKeys[] = {"title", "artist", "album", "album_artist", "track",
                                     "disc",  "year",   "genre", "comment"};

} // namespace

bool parseTagCharset(const std::string& name, TagCharset& out) {
    if (name == "auto")
        out = TagCharset::Auto;
    else if (name == "latin1" || name == "iso-8859-1")
        out = TagCharset::Latin1;
    else if (name == "gb18030" || name == "gbk")
        out = TagCharset::Gb18030;
    else
        return false;
    return true;
}

int parseTagOption(const std::string& option, const std::function<bool(std::string&)>& value,
                   TagOptions& tags, std::string& problem) {
    std::string v;
    if (option == "--no-tags") {
        tags.write = false;
    } else if (option == "--tag") {
        const size_t eq = value(v) ? v.find('=') : std::string::npos;
        MediaTags probe;
        if (eq == std::string::npos || !setTagField(probe, v.substr(0, eq), "")) {
            problem = "--tag needs KEY=VALUE with KEY one of title, artist, album, album_artist, "
                      "track, disc, year, genre, comment";
            return -1;
        }
        tags.overrides.emplace_back(v.substr(0, eq), v.substr(eq + 1));
    } else if (option == "--tag-charset") {
        if (!value(v) || !parseTagCharset(v, tags.charset)) {
            problem = "--tag-charset needs auto, latin1 or gb18030";
            return -1;
        }
    } else {
        return 0;
    }
    return 1;
}

std::string tagsJson(const MediaTags& t) {
    std::string s;
    auto add = [&s](const char* key, const std::string& value) {
        if (!s.empty()) s += ", ";
        s += std::string("\"") + key + "\": " + value;
    };
    auto text = [&add](const char* key, const std::string& v) {
        if (!v.empty()) add(key, jsonString(v));
    };
    auto number = [&add](const char* key, int v) {
        if (v > 0) add(key, std::to_string(v));
    };
    text("title", t.title);
    text("artist", t.artist);
    text("album", t.album);
    text("albumArtist", t.albumArtist);
    number("track", t.track);
    number("trackTotal", t.trackTotal);
    number("disc", t.disc);
    number("discTotal", t.discTotal);
    text("year", t.year);
    text("genre", t.genre);
    text("comment", t.comment);
    if (!t.cover.empty())
        add("cover", "{\"mime\": " + jsonString(t.coverMime) +
                         ", \"bytes\": " + std::to_string(t.cover.size()) + "}");
    return "{" + s + "}";
}

std::string tagsText(const MediaTags& t) {
    std::string s;
    for (const char* key : kTemplateKeys) {
        const std::string v = tagField(t, key);
        if (!v.empty()) s += std::string("  ") + key + ": " + v + "\n";
    }
    if (!t.cover.empty())
        s += "  cover: " + (t.coverMime.empty() ? std::string("image") : t.coverMime) + ", " +
             std::to_string(t.cover.size()) + " bytes\n";
    return s;
}

std::string nameFromTemplate(const std::string& tpl, const MediaTags& tags,
                             const std::string& stem) {
    std::string out;
    for (size_t i = 0; i < tpl.size(); ++i) {
        const size_t close = tpl[i] == '{' ? tpl.find('}', i) : std::string::npos;
        if (close == std::string::npos) {
            out += tpl[i];
            continue;
        }
        const std::string key = tpl.substr(i + 1, close - i - 1);
        std::string v;
        bool known = key == "stem";
        for (const char* k : kTemplateKeys)
            known = known || key == k;
        if (!known) {
            out += tpl[i];
            continue;
        }
        if (key != "stem") v = tagField(tags, key);
        out += v.empty() ? stem : v;
        i = close;
    }
    for (char& c : out)
        if (c == '/' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '_';
    // Room for the extension and a "_N" within the 255 bytes of a name, cut
    // at the end of a character.
    if (out.size() > kMaxStemBytes) {
        size_t n = kMaxStemBytes;
        while (n > 0 && (static_cast<unsigned char>(out[n]) & 0xC0) == 0x80)
            --n;
        out.resize(n);
    }
    if (out.empty() || out == "." || out == "..") return stem;
    return out;
}

} // namespace kestrel::cli
