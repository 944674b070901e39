#include "cli/cli.h"
#include "cli/texts.h"

#include "cli/terminal.h"
#include "engine/catalogue/media_list.h"
#include "engine/libraries/lib_orvosoundmix.h"
#include "engine/playback/players.h"
#include "engine/core/run_state.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace kestrel::cli {

int cmdPlay(const Args& args) {
    const Command& self = *findCommand("play");
    double seconds = -1;
    int seek = -1;
    std::vector<std::string> files;
    bool optionsEnd = false;
    for (size_t i = 0; i < args.size(); ++i) {
        if (optionsEnd || args[i] == "-" || args[i].rfind("-", 0) != 0) {
            files.push_back(args[i]);
        } else if (args[i] == "--") {
            optionsEnd = true;
        } else if (args[i] == "--seconds" && i + 1 < args.size()) {
            char* end = nullptr;
            seconds = std::strtod(args[++i].c_str(), &end);
            if (*end || seconds < 0) return usageError(self, "--seconds needs a number");
        } else if (args[i] == "--seek" && i + 1 < args.size()) {
            char* end = nullptr;
            seek = static_cast<int>(std::strtol(args[++i].c_str(), &end, 10));
            if (*end || seek < 0) return usageError(self, "--seek needs whole seconds");
        } else {
            return usageError(self, "unknown option " + args[i]);
        }
    }
    if (files.size() != 1) return usageError(self, "give exactly one file");
    startEngine(false);
    if (startSoundEffects() < 0) return kRefused;
    resetMediaList();
    if (addMediaFile(files[0]) < 0) return kRefused;
    installTerminalWindow({globalOptions.quiet, false});
    installInterruptHandler();
    if (playRequest(0) < 0) {
        std::fprintf(stderr, "%s",
                     cliText("kestrel-cli play: this type cannot be played yet\n",
                             "kestrel-cli play: 暂时不能播放该类型的文件\n"));
        return kRefused;
    }
    // Keys on a terminal: space or p pauses and resumes, q stops.
    bool keys = ::isatty(STDIN_FILENO) != 0;
    termios saved{};
    if (keys && tcgetattr(STDIN_FILENO, &saved) == 0) {
        termios raw = saved;
        raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
        tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    } else {
        keys = false;
    }
    auto start = std::chrono::steady_clock::now();
    bool started = false, seeked = seek < 0;
    for (;;) {
        bool r = running.load();
        if (r) started = true;
        if (started && !r) break;
        if (!started && !playbackActive()) break; // it ended before the sound started
        if (started && !seeked) {
            seekCommand(seek);
            seeked = true;
        }
        if (seconds >= 0 && started &&
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() >=
                seconds)
            stopCommand();
        if (keys) {
            pollfd p{STDIN_FILENO, POLLIN, 0};
            if (::poll(&p, 1, 20) > 0) {
                char c = 0;
                if (::read(STDIN_FILENO, &c, 1) == 1) {
                    if (c == ' ' || c == 'p') pauseCommand();
                    if (c == 'q') stopCommand();
                }
            }
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    waitPlayback();
    if (keys) tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    endProgressLine();
    if (interrupted()) return kInterrupted;
    return playbackResult() < 0 ? kRefused : kOk;
}

} // namespace kestrel::cli
