// The settings by the names a user types: every key of tavolin.ini has an
// English alias (the name of its field), and keys whose numbers stand for
// something have a name for each such value ("exe" for output type 1). Also
// the checked change of one setting, as loading would accept it.
#pragma once

#include "engine/settings/settings.h"

#include <string>
#include <vector>

namespace kestrel {

// The English alias of a key ("output_type" for "转换文件类型").
const char* settingAlias(const SettingKey& key);
// The key named by its INI text or by its alias; null when none is.
const SettingKey* findSettingKey(const std::string& name);
// What a value of the key (as the file holds it) means: "exe", "mix",
// "MPEG-2", "#0C5C5C"; "" when the number speaks for itself.
std::string settingMeaning(const SettingKey& key, int fileValue);

// Changes one setting in `s` as loading would keep it. `value` is a number as
// the file holds it, or one of the key's value names; a text for a text key.
// On success `s` holds the new value and any other setting that loading would
// change because of it (a constant bit rate the new MPEG version does not
// have); `changed` lists the keys whose values differ. On a refusal `s` is
// unchanged and `problem` says why (with the range or the allowed values).
struct SettingChange {
    std::vector<const SettingKey*> changed;
    std::string problem;
};
bool changeSetting(Settings& s, const SettingKey& key, const std::string& value,
                   SettingChange& result);

} // namespace kestrel
