#include "gui/media_page.h"

#include "engine/catalogue/media_list.h"
#include "engine/catalogue/texts.h"
#include "gui/skin.h"
#include "gui/texts.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPainter>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace kestrel::gui {

namespace {

// "*.MPG;*.DAT" as "*.MPG *.mpg *.DAT *.dat"; "*.*" as "*".
QString qtPatterns(const char* patterns) {
    QStringList out;
    for (const QString& p : QString::fromUtf8(patterns).split(u';', Qt::SkipEmptyParts)) {
        if (p == QLatin1String("*.*")) {
            out << QStringLiteral("*");
            continue;
        }
        out << p;
        if (p.toLower() != p) out << p.toLower();
    }
    return out.join(u' ');
}

} // namespace

QStringList addDialogFilters() {
    QStringList filters;
    filters << QStringLiteral("%1 (%2)").arg(QString::fromUtf8(text::kAddAllMedia),
                                             qtPatterns(kestrel::text::kOpenFilePattern));
    for (const auto& f : kestrel::text::kOpenFileFilters)
        filters << QStringLiteral("%1 (%2)").arg(QString::fromUtf8(f.label), qtPatterns(f.pattern));
    return filters;
}

QFileDialog* makeAddDialog(QWidget* parent) {
    auto* d = new QFileDialog(parent, QString::fromUtf8(text::kAddCaption));
    d->setFileMode(QFileDialog::ExistingFiles);
    d->setAcceptMode(QFileDialog::AcceptOpen);
    // The type list shows the labels; the patterns are long.
    d->setOption(QFileDialog::HideNameFilterDetails);
    d->setNameFilters(addDialogFilters());
    d->selectNameFilter(d->nameFilters().first());
    return d;
}

QIcon rowIcon(int icon) {
    static const QColor colours[4] = {QColor(0x30, 0x90, 0xD0), QColor(0x20, 0xA0, 0x40),
                                      QColor(0x90, 0x90, 0x90), QColor(0xC0, 0x30, 0x30)};
    static const char* letters[4] = {"M", "W", "Q", "R"};
    if (icon < 0 || icon > 3) icon = 0;
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(colours[icon]);
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(QRectF(0.5, 0.5, 15, 15), 4, 4);
    p.setPen(Qt::white);
    QFont f = p.font();
    f.setPixelSize(11);
    f.setBold(true);
    p.setFont(f);
    p.drawText(pm.rect(), Qt::AlignCenter, QString::fromLatin1(letters[icon]));
    return QIcon(pm);
}

MediaPage::MediaPage(QWidget* parent) : QWidget(parent) {
    list = new QTreeWidget;
    list->setColumnCount(8);
    QStringList headers;
    for (const char* h : text::kColumnHeaders)
        headers << QString::fromUtf8(h);
    list->setHeaderLabels(headers);
    for (int i = 0; i < 8; ++i)
        list->setColumnWidth(i, text::kColumnWidths[i]);
    list->setRootIsDecorated(false);
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setAllColumnsShowFocus(true);
    list->setIconSize(QSize(16, 16));
    list->setAcceptDrops(false); // drops go to the window

    add = new QPushButton(QString::fromUtf8(text::kAdd));
    remove = new QPushButton(QString::fromUtf8(text::kDelete));
    save = new QPushButton(QString::fromUtf8(text::kSave));
    refresh = new QPushButton(QString::fromUtf8(text::kRefresh));
    add->setToolTip(QString::fromUtf8(text::kTipAdd));
    remove->setToolTip(QString::fromUtf8(text::kTipDelete));
    save->setToolTip(QString::fromUtf8(text::kTipSave));
    refresh->setToolTip(QString::fromUtf8(text::kTipRefresh));
    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {add, remove, save, refresh})
        buttons->addWidget(b);
    buttons->addStretch(1);
    auto* v = new QVBoxLayout(this);
    v->setContentsMargins(2, 2, 2, 2);
    v->addWidget(list, 1);
    v->addLayout(buttons);
}

void MediaPage::setListColours(const QColor& text, const QColor& background) {
    text_ = text;
    background_ = background;
    refreshRows();
}

void MediaPage::refreshRows() {
    list->clear();
    for (const ListRow& row : mediaList.rows) {
        auto* item = new QTreeWidgetItem;
        for (int c = 0; c < 8; ++c)
            item->setText(c, QString::fromStdString(row.columns[static_cast<size_t>(c)]));
        item->setIcon(0, rowIcon(row.icon));
        item->setData(0, Qt::UserRole, static_cast<qlonglong>(row.itemData));
        // Columns 0 to 5 get their own shades: the text lightened by
        // 160 - 25 i, the background darkened by 171 - 25 i.
        if (text_.isValid() && background_.isValid()) {
            for (int c = 0; c < 6; ++c) {
                const int up = 160 - 25 * c, down = 171 - 25 * c;
                QColor t(std::min(255, text_.red() + up), std::min(255, text_.green() + up),
                         std::min(255, text_.blue() + up));
                QColor b(std::max(0, background_.red() - down),
                         std::max(0, background_.green() - down),
                         std::max(0, background_.blue() - down));
                // Where the two shades meet, the text takes the colour that
                // reads on the column's background.
                item->setForeground(c, keepReadable(t, b));
                item->setBackground(c, b);
            }
        }
        list->addTopLevelItem(item);
        item->setSelected(row.selected);
    }
    // The short columns grow to show their longest text ("MPEG1/2 PS");
    // the file name keeps its width.
    const QFontMetrics fm = list->fontMetrics();
    for (int c = 0; c < 8; ++c) {
        if (c == 1) continue;
        int width = text::kColumnWidths[c];
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            width = std::max(width, fm.horizontalAdvance(list->topLevelItem(i)->text(c)) +
                                        (c == 0 ? 36 : 16));
        list->setColumnWidth(c, width);
    }
}

void MediaPage::syncSelection() {
    const int n = std::min(list->topLevelItemCount(), static_cast<int>(mediaList.rows.size()));
    for (int i = 0; i < n; ++i)
        mediaList.rows[static_cast<size_t>(i)].selected = list->topLevelItem(i)->isSelected();
}

int MediaPage::firstSelected() const {
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        if (list->topLevelItem(i)->isSelected()) return i;
    return -1;
}

int MediaPage::addFile(const QString& path) {
    syncSelection();
    const int rc = addMediaFile(path.toStdString());
    refreshRows();
    return rc;
}

} // namespace kestrel::gui
