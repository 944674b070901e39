// Ports through which the engine reaches the user. The engine never opens a
// window: it calls the message port for message boxes and tells the window
// port what happened (the window decides which controls show it). The GUI, the command line and the
// tests each install their own implementation; without one, messages go to stderr.
//
// Threading: both ports may be called from any worker thread. Implementations
// must be thread-safe (the GUI marshals to its own thread).
#pragma once

#include <string>
#include <vector>

namespace kestrel {

enum class MsgButtons { Ok, YesNo };
enum class MsgAnswer { Ok, Yes, No };

class MessagePort {
  public:
    virtual ~MessagePort() = default;
    // Shows `text` under `caption`; for YesNo the answer, where there is nobody
    // to ask, is `fallback`.
    virtual MsgAnswer show(const std::string& caption, const std::string& text, MsgButtons buttons,
                           MsgAnswer fallback) = 0;
    // An OK message about a system call that failed with `systemError` (its
    // errno; 0: unknown). The text stays the message's own; a port that can
    // say more (the command line) adds the system's reason. By default the
    // text alone, like show().
    virtual void showFailure(const std::string& caption, const std::string& text,
                             int /*systemError*/) {
        show(caption, text, MsgButtons::Ok, MsgAnswer::Ok);
    }
};

// The commands of the main window whose availability a worker changes: the
// buttons that start a conversion, pause the recording, start playback, stop,
// start a fast conversion, and the sound and display switches.
enum class Command : unsigned {
    Convert = 1u << 0,
    PauseRecord = 1u << 1,
    Play = 1u << 2,
    Stop = 1u << 3,
    Fast = 1u << 4,
    SoundSwitch = 1u << 5,
    DisplaySwitch = 1u << 6,
};

// A set of commands.
class Commands {
  public:
    constexpr Commands() = default;
    constexpr Commands(Command c) : bits_(static_cast<unsigned>(c)) {}
    static constexpr Commands all() {
        Commands c;
        c.bits_ = (1u << 7) - 1;
        return c;
    }
    constexpr bool has(Command c) const { return (bits_ & static_cast<unsigned>(c)) != 0; }
    constexpr unsigned bits() const { return bits_; }
    constexpr Commands operator|(Commands o) const {
        Commands c;
        c.bits_ = bits_ | o.bits_;
        return c;
    }
    constexpr Commands without(Commands o) const {
        Commands c;
        c.bits_ = bits_ & ~o.bits_;
        return c;
    }
    constexpr bool operator==(const Commands&) const = default;

  private:
    unsigned bits_ = 0;
};
constexpr Commands operator|(Command a, Command b) {
    return Commands(a) | Commands(b);
}

struct OutputRecord; // one produced output (the conversion layer defines it)

// What the workers report to the main window. Each event says what happened;
// the window decides which of its controls show it:
//
//   event                   the window
//   ----------------------  ------------------------------------------------
//   statusText(t)           shows t in the status line
//   busy(available)         a worker started: of the commands above, those in
//                           `available` stay enabled, the others are disabled
//   idle(available)         the worker ended: the same, for the idle state
//   progress(v, max)        progress bar: range 0..max, position v
//   position(s, length)     position slider: range 0..length, position s
//                           (not while the user drags it: the workers skip it)
//   clock(s)                clock display: s seconds as "%02d:%02d:%02d"
//   levels(left, right)     level meters: mean absolute sample per channel
//   volume(left, right)     playback volume sliders: the device's volume
//                           (0..65535 each)
//   gainsReset()            encode-gain sliders back to neutral (40 of 0..80)
//   switchesOn(which)       the named two-state switches (SoundSwitch,
//                           DisplaySwitch) show "on" (not pressed)
//   wmaProgress(p)          the WMA encoding window: shown at 0 (the
//                           encoding begins), its progress bar at p percent
//                           for 1..99, hidden at 100 (it has ended)
//   wmPlaybackEnded()       the Windows Media reader of the main player or
//                           of a conversion reached the end of its file (or
//                           an error, or a missing codec): the window shows
//                           the reader's end-of-playback message
//   outputFinished(r)       at the end of a conversion job, once for each
//                           output it produced, in job order, with its final
//                           name: the output manager lists it
//
// Every event may come from a worker thread; implementations must be
// thread-safe (the GUI marshals to its own thread). Events a window does not
// show need no override.
class WindowPort {
  public:
    virtual ~WindowPort() = default;
    virtual void statusText(const std::string& /*text*/) {}
    virtual void busy(Commands /*available*/) {}
    virtual void idle(Commands /*available*/) {}
    virtual void progress(int /*value*/, int /*max*/) {}
    virtual void position(int /*second*/, int /*lengthSeconds*/) {}
    virtual void clock(int /*second*/) {}
    virtual void levels(int /*left*/, int /*right*/) {}
    virtual void volume(int /*left*/, int /*right*/) {}
    virtual void gainsReset() {}
    virtual void switchesOn(Commands /*which*/) {}
    virtual void wmaProgress(int /*percent*/) {}
    virtual void wmPlaybackEnded() {}
    virtual void outputFinished(const OutputRecord& /*record*/) {}
};

// The two switches together.
inline constexpr Commands kBothSwitches = Command::SoundSwitch | Command::DisplaySwitch;

// The installed ports (never null: defaults print to stderr and ignore events).
MessagePort& messages();
WindowPort& window();
void setMessagePort(MessagePort* port); // nullptr restores the default
void setWindowPort(WindowPort* port);

// Shorthand for an OK message box.
void showMessage(const std::string& caption, const std::string& text);
// An OK message box after a system call failed with `systemError` (errno).
void showMessage(const std::string& caption, const std::string& text, int systemError);
MsgAnswer askYesNo(const std::string& caption, const std::string& text, MsgAnswer fallback);

// While one lives, the OK messages (showMessage) of its thread wait in it
// instead of being shown: a step that may still succeed another way holds
// the messages of its first attempt. They are shown when it is released or
// destroyed, and never when dropped. Holds nest; the innermost one collects.
class MessageHold {
  public:
    MessageHold();
    ~MessageHold();
    MessageHold(const MessageHold&) = delete;
    MessageHold& operator=(const MessageHold&) = delete;

    // Shows the held messages in their order and stops holding.
    void release();
    // Forgets the held messages and stops holding.
    void drop();

  private:
    struct Held {
        std::string caption, text;
        int systemError;
    };
    std::vector<Held> held_;
    MessageHold* outer_ = nullptr;
    bool active_ = true;
    friend bool holdMessage(const std::string&, const std::string&, int);
};

} // namespace kestrel
