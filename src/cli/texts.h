// Texts of the command line's own that the user sees.
//
// The command line's own texts (usage, help, its own messages) come in English
// and Chinese: cliText(en, zh) picks the one for the locale (LC_ALL, then
// LC_MESSAGES, then LANG: "zh..." is Chinese, anything else English). The
// engine's texts (captions and messages of the window) are Chinese only.
#pragma once

#include <cstdlib>
#include <cstring>

namespace kestrel::cli {

// True when the locale asks for Chinese texts.
inline bool chineseLocale() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* v = std::getenv(name);
        if (v && *v) return std::strncmp(v, "zh", 2) == 0;
    }
    return false;
}

// The text of the locale's language.
inline const char* cliText(const char* en, const char* zh) {
    static const bool zhLocale = chineseLocale();
    return zhLocale ? zh : en;
}

} // namespace kestrel::cli

namespace kestrel::cli::text {

// What every line on stderr starts with.
inline constexpr const char* kProgramPrefix = "kestrel-cli: ";

// A conversion process that ended before it had reported its entry.
inline const char* const kWorkerLost =
    cliText("kestrel-cli convert: %s: the conversion process ended unexpectedly (%s)",
            "kestrel-cli convert: %s：转换进程意外结束（%s）");
// No conversion process could be started; the batch runs in this process.
inline const char* const kWorkerStartFailed =
    cliText("kestrel-cli convert: cannot start a conversion process (%s); converting one file at "
            "a time",
            "kestrel-cli convert: 无法启动转换进程（%s）；逐个转换文件");

} // namespace kestrel::cli::text
