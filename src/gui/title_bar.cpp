#include "gui/title_bar.h"

#include "gui/texts.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLinearGradient>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>

namespace kestrel::gui {

namespace {

const char* const kMenuItems[] = {"还原窗口大小", "改变窗口大小", "窗口最小化", "窗口最大化",
                                  "窗口换肤",     "关闭应用窗口", "关于"};
const int kMenuRequests[] = {5, 6, 7, 8, 2, 1, 3};

} // namespace

TitleBar::TitleBar(const QString& title, QWidget* parent) : QWidget(parent) {
    setFixedHeight(30);
    menuButton_ = new QPushButton(QString::fromUtf8(text::kSystemMenu));
    menuButton_->setFlat(true);
    menu_ = new QMenu(this);
    for (int i = 0; i < 7; ++i) {
        QAction* a = menu_->addAction(QString::fromUtf8(kMenuItems[i]));
        const int r = kMenuRequests[i];
        connect(a, &QAction::triggered, this, [this, r] { emit request(r); });
    }
    menu_->addSeparator();
    QAction* box = menu_->addAction(QString::fromUtf8(text::kSystemMenuAbout));
    connect(box, &QAction::triggered, this, [this] { emit request(9); });
    menuButton_->setMenu(menu_);
    title_ = new QLabel(title);
    skin_ = new QPushButton(QStringLiteral("◐"));
    close_ = new QPushButton(QStringLiteral("✕"));
    for (QPushButton* b : {skin_, close_})
        b->setFixedSize(24, 22);
    connect(skin_, &QPushButton::clicked, this, [this] { emit request(2); });
    connect(close_, &QPushButton::clicked, this, [this] { emit request(1); });
    auto* h = new QHBoxLayout(this);
    h->setContentsMargins(10, 2, 8, 2);
    h->addWidget(menuButton_);
    h->addWidget(title_, 1);
    h->addWidget(skin_);
    h->addWidget(close_);
}

void TitleBar::setColours(const SkinColours& c, int titleStyle) {
    colours_ = c;
    style_ = titleStyle;
    // Readable over the look's colours: the flat band, or both ends of the
    // gradient.
    const QColor text = titleStyle == 1 || titleStyle == 2
                            ? readableOn({shade(c.base, 50), shade(c.base, -30)})
                            : c.textOnLight;
    title_->setStyleSheet(QStringLiteral("color: %1; font-weight: bold;").arg(text.name()));
    menuButton_->setStyleSheet(QStringLiteral("color: %1;").arg(text.name()));
    update();
}

void TitleBar::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    // Four title looks: a flat band, a gradient down, a gradient up, a
    // band with a bright line.
    QLinearGradient g(0, 0, 0, height());
    const QColor a = shade(colours_.base, 50), b = shade(colours_.base, -30);
    switch (style_) {
    case 1:
        g.setColorAt(0, a);
        g.setColorAt(1, b);
        break;
    case 2:
        g.setColorAt(0, b);
        g.setColorAt(1, a);
        break;
    default:
        g.setColorAt(0, colours_.light);
        g.setColorAt(1, colours_.light);
        break;
    }
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, 12), 12, 12);
    p.fillPath(path, g);
    if (style_ == 3) {
        p.setPen(colours_.bar);
        p.drawLine(12, height() - 2, width() - 12, height() - 2);
    }
}

void TitleBar::mousePressEvent(QMouseEvent* e) {
    dragFrom_ = e->globalPosition().toPoint() - window()->frameGeometry().topLeft();
}

void TitleBar::mouseMoveEvent(QMouseEvent* e) {
    if (e->buttons() & Qt::LeftButton) window()->move(e->globalPosition().toPoint() - dragFrom_);
}

void TitleBar::mouseDoubleClickEvent(QMouseEvent*) {
    emit request(window()->isMaximized() ? 5 : 8);
}

} // namespace kestrel::gui
