// The output manager's window: created hidden at start-up and kept until the
// program ends; it lists the outputs each conversion produced.
#pragma once

#include <QWidget>

namespace kestrel::gui {

class OutputManagerWindow : public QWidget {
    Q_OBJECT
  public:
    explicit OutputManagerWindow(QWidget* parent = nullptr);

  public slots:
    // One output a conversion finished (in job order).
    void showRecord(int listNumber, const QString& outputPath, int outputType);
};

} // namespace kestrel::gui
