#include "gui/main_window_controls.h"

#include "engine/pipeline/display_feed.h"

namespace kestrel::gui {

namespace {

// The commands a worker enables and disables, in the order of their controls.
constexpr Command kManaged[] = {Command::Convert,      Command::PauseRecord, Command::Play,
                                Command::Stop,         Command::Fast,        Command::SoundSwitch,
                                Command::DisplaySwitch};

} // namespace

int controlOf(Command c) {
    switch (c) {
    case Command::Convert:
        return kConvertButton;
    case Command::PauseRecord:
        return kPauseRecordButton;
    case Command::Play:
        return kPlayButton;
    case Command::Stop:
        return kStopButton;
    case Command::Fast:
        return kFastButton;
    case Command::SoundSwitch:
        return kSoundSwitch;
    case Command::DisplaySwitch:
        return kDisplaySwitch;
    }
    return -1;
}

void ControlWindow::statusText(const std::string& text) {
    surface_.setText(kStatusLine, text);
}

void ControlWindow::enableCommands(Commands available) {
    for (Command c : kManaged)
        surface_.enable(controlOf(c), available.has(c));
}

void ControlWindow::busy(Commands available) {
    enableCommands(available);
}

void ControlWindow::idle(Commands available) {
    enableCommands(available);
}

void ControlWindow::progress(int value, int max) {
    surface_.setRange(kProgressBar, 0, max);
    surface_.setPos(kProgressBar, value);
}

void ControlWindow::position(int second, int lengthSeconds) {
    surface_.setRange(kPositionSlider, 0, lengthSeconds);
    surface_.setPos(kPositionSlider, second);
}

void ControlWindow::clock(int second) {
    surface_.notify(kNotifyClock, second);
}

void ControlWindow::levels(int left, int right) {
    surface_.notify(kNotifyLevels, meterReportValue(left, right));
}

void ControlWindow::volume(int left, int right) {
    surface_.setPos(kVolumeLeft, left);
    surface_.setPos(kVolumeRight, right);
}

void ControlWindow::gainsReset() {
    surface_.setPos(kGainLeft, kGainSliderNeutral);
    surface_.setPos(kGainRight, kGainSliderNeutral);
}

void ControlWindow::switchesOn(Commands which) {
    if (which.has(Command::SoundSwitch)) surface_.setCheck(kSoundSwitch, false);
    if (which.has(Command::DisplaySwitch)) surface_.setCheck(kDisplaySwitch, false);
}

void ControlWindow::wmaProgress(int percent) {
    if (percent >= 100) {
        surface_.notify(kNotifyWmaProgress, 1);
    } else if (percent <= 0) {
        surface_.notify(kNotifyWmaProgress, 0);
        surface_.setRange(kWmaProgressBar, 0, 100);
        surface_.setPos(kWmaProgressBar, 0);
    } else {
        surface_.setPos(kWmaProgressBar, percent);
    }
}

void ControlWindow::wmPlaybackEnded() {
    surface_.notify(kNotifyWmEnded, kWmEndedValue);
}

} // namespace kestrel::gui
