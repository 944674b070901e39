// The "多媒体管理" page: the media list view and its add, delete, save and
// refresh buttons. The rows are those of the engine's media list; the view
// shows them and hands its selection back before every command that reads
// the selected rows.
#pragma once

#include <QWidget>

class QFileDialog;
class QPushButton;
class QTreeWidget;

namespace kestrel::gui {

class MediaPage : public QWidget {
    Q_OBJECT
  public:
    explicit MediaPage(QWidget* parent = nullptr);
    // Shows the rows of the media list again (after it changed).
    void refreshRows();
    // Marks the rows selected in the view as selected in the media list.
    void syncSelection();
    // Index of the first selected row, -1 when none is.
    int firstSelected() const;
    // Adds one file (the add dialog's and a drop's path); what addMediaFile
    // returns.
    int addFile(const QString& path);
    // The row colours from the skin's list colours.
    void setListColours(const QColor& text, const QColor& background);

    QTreeWidget* list;
    QPushButton *add, *remove, *save, *refresh;

  private:
    QColor text_, background_;
};

// The add dialog's type filters: first every pattern of the types the list
// takes, then one filter per family, then all files. Each pattern in upper
// and lower case, as file names on disk are written either way.
QStringList addDialogFilters();
// The add dialog: existing files, several at a time, starting on the first
// filter.
QFileDialog* makeAddDialog(QWidget* parent);

// The four row icons (generic, Windows Media, QuickTime, RealMedia), drawn.
QIcon rowIcon(int icon);

} // namespace kestrel::gui
