// The main window's controls and how they show what the workers report. The
// engine reports events through WindowPort (platform/ports.h) and never names
// a control; the window that shows them installs a ControlWindow, which turns
// each event into the control changes below, on a ControlSurface that owns the
// widgets.
#pragma once

#include "platform/ports.h"

#include <string>

namespace kestrel::gui {

// Control ids of the main window (dialog template 102).
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
    kAboutButton = 1032,
    kEffectsButton = 1033,
    kHelpButton = 1036,
    kContactLink = 1037,
    kSupportLink = 1038,
    kClock = 1039,
    kOutputTypeList = 1040,
    kBanner = 1043,
    kLevelLeft = 1060,
    kLevelRight = 1061,
    // The progress bar of the "WMA编码" dialog (range 0..100).
    kWmaProgressBar = 4445,
};

// Codes of the main window's notification message (WM_USER + 33).
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

// The Windows Media reader's message to the main window at the end of its
// file (a message of its own beside WM_USER + 33), always with the value
// kWmEndedValue; the window shows the end-of-playback message.
inline constexpr int kNotifyWmEnded = 0x1001;
inline constexpr long kWmEndedValue = 99;

// The encode-gain sliders' neutral position (range 0..80, 0.5 dB a step).
inline constexpr int kGainSliderNeutral = 40;

// The widgets of the main window, addressed by control id.
class ControlSurface {
  public:
    virtual ~ControlSurface() = default;
    virtual void setText(int control, const std::string& text) = 0;
    virtual void setPos(int control, int pos) = 0;          // sliders, progress bar
    virtual void setRange(int control, int lo, int hi) = 0; // sliders, progress bar
    virtual void enable(int control, bool on) = 0;          // buttons
    virtual void setCheck(int control, bool pressed) = 0;   // two-state buttons
    virtual void notify(int code, long value) = 0;          // WM_USER + 33
};

// The control that carries each command of the ports' Command set.
int controlOf(Command c);

// The window port of the main window:
//
//   event                  controls
//   ---------------------  ---------------------------------------------------
//   statusText(t)          1001 text t
//   busy(a) / idle(a)      1014 1015 1016 1018 1022 1028 1030 each enabled
//                          when its command is in a, disabled otherwise
//   progress(v, max)       1003 range 0..max, position v
//   position(s, length)    1002 range 0..length, position s
//   clock(s)               notification 88 with s
//   levels(l, r)           notification 12 with l << 16 | r
//   volume(l, r)           1006 position l, 1007 position r
//   gainsReset()           1008 and 1009 position 40
//   switchesOn(which)      1028 and / or 1030 not pressed
//   wmaProgress(p)         p 0: notification 4444 with 0 (the encoding
//                          begins), then the dialog's bar (kWmaProgressBar)
//                          range 0..100 at 0; p 1..99: that bar at p;
//                          p 100: notification 4444 with 1 (it has ended)
//   wmPlaybackEnded()      message kNotifyWmEnded with kWmEndedValue
//   outputFinished(r)      none: the output manager takes the record
class ControlWindow : public WindowPort {
  public:
    explicit ControlWindow(ControlSurface& surface) : surface_(surface) {}

    void statusText(const std::string& text) override;
    void busy(Commands available) override;
    void idle(Commands available) override;
    void progress(int value, int max) override;
    void position(int second, int lengthSeconds) override;
    void clock(int second) override;
    void levels(int left, int right) override;
    void volume(int left, int right) override;
    void gainsReset() override;
    void switchesOn(Commands which) override;
    void wmaProgress(int percent) override;
    void wmPlaybackEnded() override;

  private:
    void enableCommands(Commands available);
    ControlSurface& surface_;
};

} // namespace kestrel::gui
