#include "gui/format_page.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>

namespace kestrel::gui {

int FormatPage::apply(bool write) {
    if (!shown_) return 1;
    int rc = applyControls();
    if (rc < 0) return rc;
    if (write) writeKeys();
    return 0;
}

void FormatPage::showEvent(QShowEvent* e) {
    shown_ = true;
    QWidget::showEvent(e);
}

void FormatPage::hideEvent(QHideEvent* e) {
    shown_ = true;
    QWidget::hideEvent(e);
}

int indexOfValue(const QComboBox* list, int value) {
    return list->findData(value);
}

void selectValue(QComboBox* list, int value, int fallback) {
    int i = list->findData(value);
    if (i < 0) i = list->findData(fallback);
    if (i < 0 && list->count() > 0) i = 0;
    list->setCurrentIndex(i);
}

QGroupBox* labelledGroup(const char* title,
                         std::initializer_list<std::pair<const char*, QWidget*>> rows) {
    auto* g = new QGroupBox(QString::fromUtf8(title));
    auto* f = new QFormLayout(g);
    for (const auto& [label, control] : rows)
        f->addRow(QString::fromUtf8(label), control);
    return g;
}

} // namespace kestrel::gui
