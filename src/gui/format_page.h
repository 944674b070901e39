// The output-format pages of the main window's tab control. Each page is filled
// from the settings when it is created and copies its controls back when it is
// applied (before every play, conversion start and save; only the save writes
// the file). A page that has not been shown since start-up applies nothing.
#pragma once

#include <QWidget>

#include <initializer_list>
#include <utility>

class QGroupBox;

class QComboBox;

namespace kestrel::gui {

class FormatPage : public QWidget {
    Q_OBJECT
  public:
    using QWidget::QWidget;
    // Copies the controls into the settings (and with `write` the page's keys
    // into the file). 0 applied; 1 nothing to do (never shown); negative when
    // the page refused (its message was shown), in which case nothing of it
    // was applied or written.
    int apply(bool write);
    bool wasShown() const { return shown_; }

  protected:
    virtual int applyControls() = 0; // copies into the settings
    virtual void writeKeys() = 0;    // writes the page's keys
    void showEvent(QShowEvent* e) override;
    void hideEvent(QHideEvent* e) override;

  private:
    bool shown_ = false;
};

// The item of `list` whose data equals `value`; -1 when none.
int indexOfValue(const QComboBox* list, int value);
// Selects the item of `value`, else the item of `fallback` (the value loading
// gives a missing key): a stored value the list does not offer never leaves
// the list without a selection.
void selectValue(QComboBox* list, int value, int fallback);

// A titled group of labelled rows (label text, control), as the pages lay
// their settings out.
QGroupBox* labelledGroup(const char* title,
                         std::initializer_list<std::pair<const char*, QWidget*>> rows);

} // namespace kestrel::gui
