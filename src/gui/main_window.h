// The main window: the list and format pages, the transport and conversion
// buttons, the sliders, the status line, the clock, the level meters and the
// display box, the output type and the skin. Its commands drive the engine;
// the engine's workers report through the ports (gui_ports.h), which carry
// every event onto this window's thread.
#pragma once

#include "gui/main_window_controls.h"
#include "gui/skin.h"

#include <QWidget>

#include <functional>
#include <map>
#include <memory>
#include <thread>

class QComboBox;
class QDialog;
class QLabel;
class QProgressBar;
class QPushButton;
class QSlider;
class QTabWidget;
class QTimer;

namespace kestrel::gui {

class AacPage;
class Banner;
class DisplayView;
class EffectsWindow;
class GuiMessagePort;
class GuiWindowPort;
class LevelMeter;
class MediaPage;
class Mp3Page;
class OutputManagerWindow;
class SkinDialog;
class TitleBar;
class WmaPage;

class MainWindow : public QWidget, public ControlSurface {
    Q_OBJECT
  public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // Start-up after the settings and the list were loaded: fills every
    // control, installs the ports, starts the display thread and timer 111.
    void start();

    // ControlSurface (window thread).
    void setText(int control, const std::string& text) override;
    void setPos(int control, int pos) override;
    void setRange(int control, int lo, int hi) override;
    void enable(int control, bool on) override;
    void setCheck(int control, bool pressed) override;
    void notify(int code, long value) override;

    // Commands.
    void addCommand();
    void dropFiles(const QStringList& paths);
    // The files named on the program's command line (paths or file URLs):
    // each is added as a dropped file is.
    void openFiles(const QStringList& paths);
    void deleteCommand();
    void saveCommand();
    void playCommand();
    void convertCommand();
    void fastCommand();
    // The exit command: asks while something runs; true when the window ends.
    bool exitCommand();
    void applyPages(bool write);

    // The control of an id (nullptr when there is none).
    QWidget* control(int id) const;
    QString statusText() const;
    QString clockText() const;
    MediaPage* mediaPage() const { return mediaPage_; }
    Mp3Page* mp3Page() const { return mp3Page_; }
    WmaPage* wmaPage() const { return wmaPage_; }
    AacPage* aacPage() const { return aacPage_; }
    QTabWidget* tabs() const { return tabs_; }
    DisplayView* display() const { return display_; }
    LevelMeter* meter(bool left) const { return left ? meterLeft_ : meterRight_; }
    Banner* banner() const { return banner_; }
    OutputManagerWindow* outputManager() const { return outputManager_; }
    QDialog* wmaDialog() const { return wmaDialog_; }
    QProgressBar* wmaProgressBar() const { return wmaBar_; }
    SkinDialog* skinDialog() const { return skinDialog_; }
    bool conversionStarted() const { return conversionStarted_; }
    // Tool tips only while nothing plays or converts: true filters the
    // tip out.
    bool eventFilter(QObject* watched, QEvent* e) override;
    // Registers the effects window with the effects library (once it is
    // loaded); true when the library takes it.
    bool attachEffects();
    EffectsWindow* effectsWindow() const { return effects_; }
    // Timer 111's work (also called by the tests).
    void timerTick();
    // Applies the skin colour to every control (code 8886).
    void applySkin();

    // How the window opens a page of its help (the link buttons, the help
    // button, the exit page); replaceable for the tests.
    static std::function<void(const QString& page)> openHelpPage;
    // How the exit command waits (300 ms); replaceable for the tests.
    static std::function<void(int ms)> pause;

  protected:
    void closeEvent(QCloseEvent* e) override;
    void dragEnterEvent(QDragEnterEvent* e) override;
    void dropEvent(QDropEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;

  private:
    // While the output manager is shown the start commands do nothing; the
    // status line says why. True when blocked.
    bool startsBlockedByManager();
    QPushButton* button(int id, const char* tip, const QIcon& icon, const char* label = nullptr);
    void buildControls();
    void fillFromSettings();
    void titleBarRequest(long value);
    void showAbout();
    void showAboutBox();
    void toggleSkinDialog();
    void applyAlpha();
    void endWindow();

    std::map<int, QWidget*> controls_;
    QTabWidget* tabs_ = nullptr;
    MediaPage* mediaPage_ = nullptr;
    Mp3Page* mp3Page_ = nullptr;
    WmaPage* wmaPage_ = nullptr;
    AacPage* aacPage_ = nullptr;
    QLabel* status_ = nullptr;
    QLabel* clock_ = nullptr;
    QSlider* position_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QComboBox* outputType_ = nullptr;
    DisplayView* display_ = nullptr;
    LevelMeter* meterLeft_ = nullptr;
    LevelMeter* meterRight_ = nullptr;
    Banner* banner_ = nullptr;
    TitleBar* titleBar_ = nullptr;
    OutputManagerWindow* outputManager_ = nullptr;
    SkinDialog* skinDialog_ = nullptr;
    EffectsWindow* effects_ = nullptr;
    QDialog* wmaDialog_ = nullptr;
    QProgressBar* wmaBar_ = nullptr;
    QTimer* timer_ = nullptr;
    std::unique_ptr<GuiWindowPort> windowPort_;
    std::unique_ptr<GuiMessagePort> messagePort_;
    std::thread fastThread_;
    bool conversionStarted_ = false;
    bool ending_ = false;
    bool started_ = false;
    bool positionDragging_ = false;
    int levelReports_ = 0;
    QPoint dragFrom_;
};

} // namespace kestrel::gui
