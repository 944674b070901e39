#include "cli/cli.h"
#include "cli/texts.h"
#include "cli/terminal.h"

#include "engine/settings/setting_names.h"
#include "engine/settings/settings.h"
#include "platform/paths.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace kestrel::cli {

namespace {

const Command& self() {
    return *findCommand("settings");
}

// "KEY=VALUE", with the value's meaning in brackets where it has one.
std::string shown(const SettingKey& k) {
    std::string line = std::string(k.key) + "=" + settingFileValue(k, settings);
    if (k.type != SettingKey::Type::Text) {
        std::string meaning = settingMeaning(k, std::stoi(settingFileValue(k, settings)));
        if (!meaning.empty()) line += " (" + meaning + ")";
    }
    return line;
}

const SettingKey* keyOrError(const std::string& name) {
    const SettingKey* k = findSettingKey(name);
    if (!k) usageError(self(), "unknown setting '" + name + "'");
    return k;
}

} // namespace

int cmdSettings(const Args& args) {
    if (args.empty()) {
        startEngine(false, false);
        // Each key with its English alias, the name get and set take too.
        for (const auto& k : settingKeys())
            std::printf("%s  [%s]\n", shown(k).c_str(), settingAlias(k));
        for (const auto& line : settingLines(settings, outputFormat))
            if (!findSettingKey(line.key)) std::printf("%s=%s\n", line.key, line.value.c_str());
        return kOk;
    }
    const std::string& sub = args[0];
    if (sub == "path") {
        if (args.size() > 1) return usageError(self(), "unexpected argument " + args[1]);
        MachineOutput machine; // the path as it is
        std::printf("%s\n", settingsPath().c_str());
        return kOk;
    }
    if (sub == "get") {
        if (args.size() < 2) return usageError(self(), "get needs a setting's name");
        for (size_t i = 1; i < args.size(); ++i)
            if (!keyOrError(args[i])) return kUsage;
        startEngine(false, false);
        for (size_t i = 1; i < args.size(); ++i)
            std::printf("%s\n", shown(*findSettingKey(args[i])).c_str());
        return kOk;
    }
    if (sub == "set") {
        if (args.size() != 3) return usageError(self(), "set needs a setting's name and a value");
        const SettingKey* k = keyOrError(args[1]);
        if (!k) return kUsage;
        startEngine(false, false);
        SettingChange change;
        if (!changeSetting(settings, *k, args[2], change)) {
            std::fprintf(stderr,
                         cliText("kestrel-cli settings: %s (%s): '%s' refused: %s\n",
                                 "kestrel-cli settings: %s (%s)：'%s' 被拒绝：%s\n"),
                         k->key, settingAlias(*k), args[2].c_str(), change.problem.c_str());
            return kRefused;
        }
        for (const SettingKey* c : change.changed) {
            if (!saveSetting(*c)) {
                std::fprintf(stderr,
                             cliText("kestrel-cli settings: cannot write %s: %s\n",
                                     "kestrel-cli settings: 无法写入 %s：%s\n"),
                             settingsPath().c_str(), std::strerror(errno));
                return kRefused;
            }
            std::printf("%s\n", shown(*c).c_str());
        }
        if (change.changed.empty()) std::printf("%s\n", shown(*k).c_str());
        return kOk;
    }
    return usageError(self(), "unknown settings command '" + sub + "'");
}

} // namespace kestrel::cli
