// Ports through which the engine reaches the user. The engine never opens a
// window: it calls the message port for message boxes and the window port for
// the controls that workers drive. The GUI, the command line and the tests each
// install their own implementation; without one, messages go to stderr.
//
// Threading: both ports may be called from any worker thread. Implementations
// must be thread-safe (the GUI marshals to its own thread).
#pragma once

#include <string>

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
};

// Control ids of the main window that the workers drive.
enum ControlId : int {
    kTab = 1000,
    kStatusLine = 1001,
    kPositionSlider = 1002,
    kProgressBar = 1003,
    kVolumeLeft = 1006,
    kVolumeRight = 1007,
    kGainLeft = 1008,
    kGainRight = 1009,
    kExitButton = 1013,
    kConvertButton = 1014,
    kPauseRecordButton = 1015,
    kPlayButton = 1016,
    kPauseButton = 1017,
    kStopButton = 1018,
    kAddButton = 1019,
    kDeleteButton = 1020,
    kSaveButton = 1021,
    kFastButton = 1022,
    kRefreshButton = 1023,
    kDisplayStyleButton = 1024,
    kWidenButton = 1025,
    kNarrowButton = 1026,
    kSoundSwitch = 1028,
    kDisplayBox = 1029,
    kDisplaySwitch = 1030,
    kEffectsButton = 1033,
    kClock = 1039,
    kOutputTypeList = 1040,
    kBanner = 1043,
    kLevelLeft = 1060,
    kLevelRight = 1061,
};

// Codes of the notification message (WM_USER + 33) that workers send.
enum NotifyCode : int {
    kNotifyLevels = 12,
    kNotifyClock = 88,
    kNotifyStop = 99, // value 98
    kNotifyWmaProgress = 4444,
    kNotifyApplyAlpha = 8885,
    kNotifyApplySkin = 8886,
    kNotifySkinAlpha = 8887,
    kNotifyPlayRequest = 8888,
    kNotifyTitleBar = 1333999,
};

class WindowPort {
  public:
    virtual ~WindowPort() = default;
    virtual void setText(int control, const std::string& text) = 0;
    virtual void setPos(int control, int pos) = 0;          // sliders, progress bar
    virtual void setRange(int control, int lo, int hi) = 0; // sliders, progress bar
    virtual void enable(int control, bool on) = 0;          // buttons
    virtual void setCheck(int control, bool pressed) = 0;   // two-state buttons
    virtual void notify(int code, long value) = 0;          // WM_USER + 33
};

// The installed ports (never null: defaults print to stderr and ignore controls).
MessagePort& messages();
WindowPort& window();
void setMessagePort(MessagePort* port); // nullptr restores the default
void setWindowPort(WindowPort* port);

// Shorthand for an OK message box.
void showMessage(const std::string& caption, const std::string& text);
MsgAnswer askYesNo(const std::string& caption, const std::string& text, MsgAnswer fallback);

} // namespace kestrel
