// The command line's tag options (--no-tags, --tag KEY=VALUE, --tag-charset,
// --name TEMPLATE) and how `info` prints tags.
#pragma once

#include "engine/convert/tag_writing.h"

#include <functional>
#include <string>

namespace kestrel::cli {

// Takes `option` when it is one of the tag options, its value from `value`
// (which gives false when there is none). 1 when taken, 0 when `option` is
// not one of them, -1 when its value is wrong (`problem` says why).
int parseTagOption(const std::string& option, const std::function<bool(std::string&)>& value,
                   TagOptions& tags, std::string& problem);

// --tag-charset: auto, latin1 or gb18030 (also iso-8859-1, gbk); false for
// another name.
bool parseTagCharset(const std::string& name, TagCharset& out);

// `tags` as the members of a JSON object ("{}" when empty).
std::string tagsJson(const MediaTags& tags);
// The lines "  title: ..." of the fields that are set.
std::string tagsText(const MediaTags& tags);

// An output name from a template: each {field} (title, artist, album,
// album_artist, track, disc, year, genre) replaced by the tag, or by the
// source's stem when the tag is empty ({stem} is always the stem);
// characters that are not allowed in file names ('/', NUL, control
// characters) become '_', a name longer than 240 bytes is cut at a
// character's end, and a name that would be empty, "." or ".." is the stem.
std::string nameFromTemplate(const std::string& tpl, const MediaTags& tags,
                             const std::string& stem);

} // namespace kestrel::cli
