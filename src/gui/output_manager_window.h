// The output manager's window: created hidden at start-up and kept until the
// program ends; after a conversion it lists the outputs the job produced and
// plays, stops and deletes them.
#pragma once

#include "engine/playback/output_manager.h"

#include <QWidget>

#include <memory>
#include <vector>

class QLabel;
class QProgressBar;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace kestrel {
struct OutputRecord;
}

namespace kestrel::gui {

// The manager's record of a conversion's output record.
ManagedOutput managedOutput(const OutputRecord& record);

class OutputManagerWindow : public QWidget {
    Q_OBJECT
  public:
    // `device`: where the manager's sound goes (null: its own ring).
    explicit OutputManagerWindow(QWidget* parent = nullptr, PcmDevice* device = nullptr);
    ~OutputManagerWindow() override;

    OutputManager& manager() { return *manager_; }
    QTreeWidget* list() const { return list_; }
    QLabel* pathLine() const { return path_; }
    QLabel* statusLine() const { return status_; }
    QProgressBar* progressBar() const { return progress_; }
    QPushButton* playButton() const { return play_; }
    QPushButton* stopButton() const { return stop_; }
    QPushButton* deleteButton() const { return delete_; }
    QPushButton* backButton() const { return back_; }

    // A conversion job starts: the table is emptied and the window hidden.
    void jobStarted();
    // The job has ended with `records`: they fill the table and the window is
    // shown, titled with the last output's name, with the prompt, when there
    // is any.
    // Does nothing unless a job was started since the last call.
    void jobEnded(const std::vector<ManagedOutput>& records);
    // Fills the list from the table.
    void refill();

  public slots:
    void selectRow(int row);
    void playCommand();
    void stopCommand();
    void deleteCommand();
    void backCommand();

  protected:
    void showEvent(QShowEvent* e) override;
    void hideEvent(QHideEvent* e) override;

  private:
    class Events;
    void setButtons(bool play, bool stop, bool del);
    QTreeWidget* list_ = nullptr;
    QLabel* path_ = nullptr;
    QLabel* status_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QPushButton* play_ = nullptr;
    QPushButton* stop_ = nullptr;
    QPushButton* delete_ = nullptr;
    QPushButton* back_ = nullptr;
    int selected_ = -1;
    bool jobPending_ = false;
    std::unique_ptr<OutputManager> manager_;
    std::unique_ptr<Events> events_;
};

} // namespace kestrel::gui
