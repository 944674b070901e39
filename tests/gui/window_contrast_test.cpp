// Every text the windows show, measured on the rendered pixels: for each
// widget of each window of the gallery (from the widget tree), the region of
// its text is taken from the window's picture, its background is the colour
// most of the region has and its text the colour at least three of its pixels reach that stands
// apart from it by the most. Enabled texts need 4.5:1, disabled ones 3:1, in every skin
// colour the skin dialog offers and in black, white, mid grey and saturated
// colours. Besides: columns and choices shown whole, tips without a click,
// the window icon and Qt's own texts in the locale's language.
#include "gui_test_support.h"

#include "engine/catalogue/media_list.h"
#include "gui/app_setup.h"
#include "gui/media_page.h"
#include "gui/output_manager_window.h"
#include "gui/skin.h"
#include "screenshots/gallery.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QRadioButton>
#include <QTabBar>
#include <QTreeWidget>

#include <algorithm>
#include <map>
#include <sstream>

using namespace kestrel;
using namespace kestrel::gui;
using kestrel::test::WindowTest;

namespace {

struct Reading {
    std::string what;
    double ratio = 0;
    double needed = 0;
    QColor text, background;
};

// The text and background colours of a region; false when no pixel stands
// apart from the background (the text cannot be seen at all).
bool readRegion(const QImage& img, QRect r, QColor& text, QColor& background) {
    r = r.intersected(img.rect());
    if (r.width() < 3 || r.height() < 3) return false;
    std::map<QRgb, int> counts;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            ++counts[img.pixel(x, y) | 0xFF000000u];
    QRgb bg = 0;
    int most = -1;
    for (const auto& [rgb, n] : counts)
        if (n > most) most = n, bg = rgb;
    background = QColor(bg);
    // The glyphs' full colour: the contrast that at least three pixels
    // reach (a stray pixel or two does not count); the smoothed edges lie
    // between it and the background.
    std::vector<std::pair<double, QRgb>> byContrast;
    for (const auto& [rgb, n] : counts)
        byContrast.emplace_back(contrastRatio(QColor(rgb), background), rgb);
    std::sort(byContrast.rbegin(), byContrast.rend());
    int seen = 0;
    for (const auto& [ratio, rgb] : byContrast) {
        if (ratio < 1.25) return false;
        seen += counts[rgb];
        if (seen >= 3) {
            text = QColor(rgb);
            return true;
        }
    }
    return false;
}

class Meter {
  public:
    Meter(QWidget* top, const QString& scene) : top_(top), scene_(scene) {
        img_ = top->grab().toImage().convertToFormat(QImage::Format_RGB32);
        if (const char* dump = std::getenv("KESTREL_CONTRAST_DUMP"))
            img_.save(QString::fromLocal8Bit(dump) + "/" + scene + ".png");
    }
    std::vector<Reading> readings;

    void measure(QWidget* w, QRect local, const QString& label) {
        local = local.adjusted(2, 2, -2, -2);
        const QRect r(w->mapTo(top_, local.topLeft()), local.size());
        if (std::getenv("KESTREL_CONTRAST_DUMP"))
            std::printf("%s %d,%d %dx%d %s\n", qPrintable(scene_), r.x(), r.y(), r.width(),
                        r.height(), qPrintable(label.left(20)));
        Reading m;
        std::ostringstream what;
        what << scene_.toStdString() << ": " << w->metaObject()->className() << " \""
             << label.left(24).toStdString() << "\"";
        m.what = what.str();
        m.needed = w->isEnabled() ? kTextContrast : kDisabledContrast;
        if (readRegion(img_, r, m.text, m.background))
            m.ratio = contrastRatio(m.text, m.background);
        readings.push_back(m);
    }

    void measureView(QAbstractItemView* v) {
        QAbstractItemModel* model = v->model();
        if (!model) return;
        const QModelIndex root = v->rootIndex();
        for (int row = 0; row < std::min(model->rowCount(root), 12); ++row) {
            for (int col = 0; col < model->columnCount(root); ++col) {
                const QModelIndex i = model->index(row, col, root);
                const QString t = i.data().toString();
                QRect cell = v->visualRect(i);
                if (t.isEmpty() || !cell.intersects(v->viewport()->rect())) continue;
                cell = cell.intersected(v->viewport()->rect());
                // Past the icon or check box at the cell's start, to the text's end.
                const bool decorated =
                    !i.data(Qt::DecorationRole).isNull() || !i.data(Qt::CheckStateRole).isNull();
                const int start = decorated ? 22 : 0;
                const int end =
                    decorated ? cell.width()
                              : std::min(cell.width(), v->fontMetrics().horizontalAdvance(t) + 16);
                measure(v->viewport(),
                        QRect(cell.x() + start, cell.y(), end - start, cell.height()), t);
            }
        }
    }

    void measureAll() {
        for (QWidget* w : top_->findChildren<QWidget*>()) {
            if (!w->isVisibleTo(top_) || w->window() != top_) continue;
            measureWidget(w);
        }
        measureWidget(top_);
    }

  private:
    void measureWidget(QWidget* w) {
        if (auto* l = qobject_cast<QLabel*>(w)) {
            if (!l->text().isEmpty() && l->pixmap().isNull()) {
                const int tw = l->fontMetrics().horizontalAdvance(l->text()) + 8;
                QRect r = l->contentsRect();
                if (l->alignment() & Qt::AlignHCenter)
                    r = QRect(r.center().x() - tw / 2, r.y(), tw, r.height());
                else
                    r.setWidth(std::min(r.width(), tw));
                measure(l, r, l->text());
            }
        } else if (auto* b = qobject_cast<QAbstractButton*>(w)) {
            if (b->text().isEmpty()) return;
            QRect r = b->rect();
            const int tw = b->fontMetrics().horizontalAdvance(b->text()) + 8;
            if (qobject_cast<QCheckBox*>(b) || qobject_cast<QRadioButton*>(b))
                r = QRect(22, 0, std::min(tw, r.width() - 22), r.height());
            else if (!b->icon().isNull())
                r.setLeft(r.left() + b->iconSize().width() + 6);
            else if (tw < r.width())
                r = QRect(r.center().x() - tw / 2, 0, tw, r.height());
            measure(b, r.adjusted(0, 3, 0, -3), b->text());
        } else if (auto* c = qobject_cast<QComboBox*>(w)) {
            if (!c->currentText().isEmpty())
                measure(c, c->rect().adjusted(1, 1, -20, -1), c->currentText());
        } else if (auto* e = qobject_cast<QLineEdit*>(w)) {
            if (!e->text().isEmpty() && e->echoMode() == QLineEdit::Normal && e->isVisible()) {
                const int tw = e->fontMetrics().horizontalAdvance(e->text()) + 10;
                measure(e, QRect(0, 0, std::min(e->width(), tw), e->height()), e->text());
            }
        } else if (auto* g = qobject_cast<QGroupBox*>(w)) {
            const int tw = g->fontMetrics().horizontalAdvance(g->title());
            measure(g, QRect(8, 0, tw + 4, g->fontMetrics().height() + 2), g->title());
        } else if (auto* t = qobject_cast<QTabBar*>(w)) {
            for (int i = 0; i < t->count(); ++i) {
                QRect r = t->tabRect(i);
                r.setLeft(r.left() + t->iconSize().width() + 12);
                measure(t, r.adjusted(0, 4, -4, -2), t->tabText(i));
            }
        } else if (auto* h = qobject_cast<QHeaderView*>(w)) {
            for (int i = 0; i < h->count(); ++i) {
                if (h->isSectionHidden(i)) continue;
                const QString t = h->model()->headerData(i, h->orientation()).toString();
                const int tw = h->fontMetrics().horizontalAdvance(t) + 10;
                measure(h,
                        QRect(h->sectionViewportPosition(i), 0, std::min(h->sectionSize(i), tw),
                              h->height()),
                        t);
            }
        } else if (auto* v = qobject_cast<QAbstractItemView*>(w)) {
            measureView(v);
        }
    }

    QWidget* top_;
    QString scene_;
    QImage img_;
};

// The readings below what their text needs; `count` grows by the number of
// texts measured.
std::vector<Reading> unreadable(QWidget* top, const QString& scene, int* count = nullptr) {
    Meter m(top, scene);
    m.measureAll();
    if (count) *count += static_cast<int>(m.readings.size());
    std::vector<Reading> bad;
    for (const Reading& r : m.readings)
        if (r.ratio < r.needed - 0.05) bad.push_back(r);
    return bad;
}

std::string describe(const std::vector<Reading>& bad) {
    std::ostringstream o;
    for (const Reading& r : bad)
        o << r.what << " " << r.ratio << " < " << r.needed << " (text "
          << r.text.name().toStdString() << " on " << r.background.name().toStdString() << ")\n";
    return o.str();
}

// The skin dialog's four colours, the default, and black, white, mid grey,
// a saturated red and a saturated yellow (colour references 0x00BBGGRR).
constexpr int kColours[] = {810076,   0x5C5C0C, 0x205C08, 0x084248, 0x521008,
                            0x000000, 0xFFFFFF, 0x808080, 0x0000FF, 0x00FFFF};

class ContrastTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        setLibraryFolder(KESTREL_BIN_DIR);
        settleScale = 0.1;
        // A folder as a user's: one of the list's types and a text file.
        QDir(QString::fromStdString(home.path())).mkpath("media");
        folder = QString::fromStdString(home.path()) + "/media";
        for (const char* n : {"song.mp3", "film.vob", "notes.txt"})
            QFile(folder + "/" + n).open(QIODevice::WriteOnly);
    }
    // The window with one list entry, in the skin `ref` and display mode `mode`.
    MainWindow& openIn(int ref, int mode) {
        writeKey("软件界面颜色", std::to_string(ref));
        writeKey("界面显示", std::to_string(mode));
        MainWindow& w = open();
        if (test::haveFixture("dec_l3_11_cbr.mp3"))
            w.dropFiles({QString::fromStdString(test::fixture("dec_l3_11_cbr.mp3"))});
        return w;
    }
    QString folder;
};

} // namespace

TEST(SkinColours, EveryTextReadsAndDisabledTextIsDimmerButReadable) {
    for (int ref : kColours) {
        const SkinColours c = skinColours(ref);
        const std::pair<QColor, QColor> texts[] = {{c.text, c.base},
                                                   {c.textOnLight, c.light},
                                                   {c.textOnDark, c.dark},
                                                   {c.textOnHover, c.hover},
                                                   {c.textOnHighlight, c.highlight}};
        for (const auto& [t, s] : texts)
            EXPECT_GE(contrastRatio(t, s), kTextContrast) << std::hex << ref;
        const std::tuple<QColor, QColor, QColor> dims[] = {{c.dimText, c.text, c.base},
                                                           {c.dimOnLight, c.textOnLight, c.light},
                                                           {c.dimOnDark, c.textOnDark, c.dark}};
        for (const auto& [dim, t, s] : dims) {
            EXPECT_GE(contrastRatio(dim, s), kDisabledContrast) << std::hex << ref;
            EXPECT_LE(contrastRatio(dim, s), 0.8 * contrastRatio(t, s)) << std::hex << ref;
        }
        // The selection stands apart from the list around it.
        EXPECT_GE(contrastRatio(c.highlight, c.dark), 1.5) << std::hex << ref;
    }
}

TEST_F(ContrastTest, EveryTextOfEveryWindowReadsInEverySkinAndDisplayMode) {
    for (int ref : kColours) {
        for (int mode : {1, 2}) {
            // Every scene once per colour; the display modes change only the
            // main window.
            MainWindow& w = openIn(ref, mode);
            std::vector<Reading> bad;
            int scenes = 0, texts = 0;
            walkGallery(w, folder, home.path() + "/none.mp3", [&](const Scene& s) {
                if (mode == 2 && s.shown != &w) return;
                ++scenes;
                auto b = unreadable(s.shown, s.name, &texts);
                bad.insert(bad.end(), b.begin(), b.end());
            });
            EXPECT_GE(scenes, mode == 1 ? 30 : 4);
            EXPECT_GE(texts, mode == 1 ? 300 : 60);
            EXPECT_TRUE(bad.empty()) << "skin " << std::hex << ref << " mode " << mode << "\n"
                                     << describe(bad);
            window.reset();
            if (HasFailure()) return;
        }
    }
}

TEST_F(ContrastTest, AnOpenListWithoutItsOwnBackgroundCannotBeRead) {
    MainWindow& w = openIn(810076, 1);
    w.show();
    auto* type = qobject_cast<QComboBox*>(w.control(kOutputTypeList));
    auto popupReadings = [&] {
        type->showPopup();
        settle(100);
        auto bad = unreadable(type->view()->window(), "output type list");
        type->hidePopup();
        return bad;
    };
    EXPECT_TRUE(popupReadings().empty());
    QString sheet;
    for (const StyleRule& r : skinStyleRules(skinColours(810076)))
        if (QLatin1String(r.name) != QLatin1String("comboPopup")) sheet += r.text + "\n";
    qApp->setStyleSheet(sheet);
    EXPECT_FALSE(popupReadings().empty());
    w.applySkin();
}

// What a user sees besides the colours: every column and every choice shows
// whole, the tips come without a click, the window manager has the icon,
// Qt's own buttons speak the locale's language.
TEST_F(ContrastTest, ListsShowTheirColumnsAndTextsWhole) {
    MainWindow& w = open();
    ListRow row;
    row.columns = {
        "0", "/home/user/Music/film.mpg", "123456789", "MPEG1/2 PS", "3600", "48000", "2", "1"};
    mediaList.rows.push_back(row);
    w.mediaPage()->refreshRows();
    w.show();
    QTreeWidget* list = w.mediaPage()->list;
    for (int c : {0, 2, 3, 4, 5, 6, 7})
        EXPECT_GE(list->columnWidth(c), list->fontMetrics().horizontalAdvance(
                                            QString::fromStdString(row.columns[size_t(c)])) +
                                            8)
            << c;
    // Every choice of every page is as wide as its text.
    for (int page = 0; page < 4; ++page) {
        w.tabs()->setCurrentIndex(page);
        settle(20);
        for (QComboBox* c : w.findChildren<QComboBox*>()) {
            if (!c->isVisible()) continue;
            EXPECT_GE(c->width(), c->fontMetrics().horizontalAdvance(c->currentText()) + 20)
                << c->currentText().toStdString();
        }
    }
    // The output manager shows its four columns side by side, without a
    // figure over its bar.
    OutputManagerWindow* m = w.outputManager();
    ManagedOutput out;
    out.sourcePath = "/home/user/Music/film.mpg";
    out.outputPath = home.path() + "/film.mp3";
    m->jobStarted();
    m->jobEnded({out});
    settle(50);
    int right = 0;
    for (int c = 0; c < 4; ++c)
        right = std::max(right, m->list()->header()->sectionViewportPosition(c) +
                                    m->list()->header()->sectionSize(c));
    EXPECT_LE(right, m->list()->viewport()->width());
    EXPECT_FALSE(m->progressBar()->isTextVisible());
    m->hide();
}

TEST_F(ContrastTest, TipsIconAndQtsOwnTextsInTheLocale) {
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
    const bool translated = setUpApplication(test::qtApp());
    QLocale::setDefault(QLocale::c());
    MainWindow& w = open();
    EXPECT_TRUE(w.testAttribute(Qt::WA_AlwaysShowToolTips));
    EXPECT_FALSE(w.windowIcon().isNull());
    EXPECT_FALSE(w.outputManager()->windowIcon().isNull());
    ASSERT_TRUE(translated) << "Qt's translations are not installed";
    QMessageBox box(QMessageBox::Question, "t", "q", QMessageBox::Yes | QMessageBox::No, &w);
    EXPECT_EQ(box.button(QMessageBox::No)->text().remove(QRegularExpression("\\(.*\\)|&")),
              QString::fromUtf8("否"));
}
