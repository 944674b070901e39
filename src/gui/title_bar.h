// The skinned title bar: the caption, the "岚石系统" menu, the skin button and
// the close button. Its requests reach the window as notification 1333999:
// 1 exit, 2 or 4 show or hide the skin dialog, 3 the about dialog; the menu's
// window items use 5 restore, 6 resize, 7 minimise, 8 maximise.
#pragma once

#include "gui/skin.h"

#include <QWidget>

class QLabel;
class QMenu;
class QPushButton;

namespace kestrel::gui {

class TitleBar : public QWidget {
    Q_OBJECT
  public:
    TitleBar(const QString& title, QWidget* parent = nullptr);
    void setColours(const SkinColours& c, int titleStyle);
    QMenu* systemMenu() const { return menu_; }
    QPushButton* closeButton() const { return close_; }
    QPushButton* skinButton() const { return skin_; }

  signals:
    void request(int value);

  protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;

  private:
    QLabel* title_;
    QPushButton *menuButton_, *skin_, *close_;
    QMenu* menu_;
    SkinColours colours_;
    int style_ = 0;
    QPoint dragFrom_;
};

} // namespace kestrel::gui
