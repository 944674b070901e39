// English twins of the settings store's messages (see localize.h).
#pragma once

#include "cli/localize.h"
#include "engine/settings/texts.h"

namespace kestrel::cli {

inline constexpr TextTwin kSettingsTwins[] = {
    {kestrel::text::kSettingsNotRegular,
     "the settings file %s is not a regular file (%s): every setting takes its default and "
     "nothing is saved"},
};

} // namespace kestrel::cli
