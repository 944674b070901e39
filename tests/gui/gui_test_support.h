// The window under test: an offscreen Qt application for the whole test
// program, a fresh program folder per test, and a started main window.
#pragma once

#include "engine/catalogue/media_list.h"
#include "engine/core/run_state.h"
#include "engine/settings/settings.h"
#include "gui/main_window.h"
#include "platform/paths.h"
#include "platform/profile.h"
#include "support/test_support.h"

#include <QApplication>
#include <QCoreApplication>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>

namespace kestrel::test {

inline QApplication& qtApp() {
    static int argc = 1;
    static char name[] = "kestrel-test";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return new QApplication(argc, argv);
    }();
    return *app;
}

// Processes the window's events until `done` or `seconds` passed.
template <class F> bool processUntil(F done, double seconds = 30) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    QCoreApplication::processEvents();
    return true;
}

// A program folder of its own with the settings loaded from it.
class WindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        qtApp();
        gui::MainWindow::pause = [](int) {};
        gui::MainWindow::openHelpPage = [this](const QString& p) { opened.push_back(p); };
        setProgramFolder(home.path());
        running = false;
        paused = false;
        converting = false;
    }
    void TearDown() override {
        running = false;
        window.reset();
        messages.reset();
        setProgramFolder("");
        resetMediaList();
    }
    // Writes one key of the settings file.
    void writeKey(const char* key, const std::string& value) {
        writePrivateProfileString("岚石多媒体MP3转换器", key, value, settingsPath());
    }
    int readKey(const char* key) {
        return getPrivateProfileInt("岚石多媒体MP3转换器", key, -99, settingsPath());
    }
    // Loads the settings and the list as at start-up and opens the window;
    // messages go to a recorder from then on.
    gui::MainWindow& open() {
        loadSettings();
        resetMediaList();
        loadMediaList();
        window = std::make_unique<gui::MainWindow>();
        window->start();
        messages = std::make_unique<RecordingMessages>();
        messages->answer = MsgAnswer::No;
        return *window;
    }
    TempDir home;
    std::unique_ptr<gui::MainWindow> window;
    std::unique_ptr<RecordingMessages> messages;
    std::vector<QString> opened;
};

} // namespace kestrel::test
