#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QTextDocument>

#include "gui/Gauge.h"
#include "production/EngineerBanner.h"
#include "production/ImageHash.h"
#include "production/JobEditor.h"
#include "production/OperatorLayout.h"
#include "production/StatusPanel.h"
#include "production/WriterTile.h"
#include "tests/production/ProductionRig.h"
#include "tests/support/Fakes.h"

namespace sonoprog::test {
namespace {

// The height the panel's text takes at its width, as the label lays it out.
int textHeight(const production::StatusPanel& panel) {
    QTextDocument doc;
    doc.setDefaultFont(panel.font());
    doc.setHtml(panel.text());
    doc.setTextWidth(panel.contentsRect().width() - 2 * panel.margin());
    return static_cast<int>(doc.size().height());
}

// Each Writer count on the screens the bench uses: the tiles fill the
// operator view's tile area, the result word is at least an eighth of the
// tile's height, and every status, the counters and Restart fit in the tile.
TEST(OperatorView, TilesScaleToTheScreenWithoutCuttingAnythingOff) {
    const QSize screens[] = {{1366, 768}, {1920, 1080}, {1280, 1024}, {1024, 768}};
    for (const QSize screen : screens) {
        for (int writers = 1; writers <= 16; ++writers) {
            SCOPED_TRACE(QStringLiteral("%1x%2, %3 Writers")
                             .arg(screen.width())
                             .arg(screen.height())
                             .arg(writers)
                             .toStdString());
            const auto layout =
                production::operatorLayout(screen.width(), screen.height(), writers);
            const auto& grid = layout.grid;
            ASSERT_GE(grid.columns * grid.rows, writers);
            EXPECT_LT(grid.columns * grid.rows - writers, std::max(grid.columns, grid.rows));
            EXPECT_LE(grid.columns * grid.tileWidth, layout.tilesWidth);
            EXPECT_LE(grid.rows * grid.tileHeight, layout.tilesHeight);

            production::WriterTile tile("usb:1-1.3");
            tile.setAttribute(Qt::WA_DontShowOnScreen);
            tile.setScale(grid.scale);
            tile.resize(grid.tileWidth, grid.tileHeight);
            tile.show();
            QCoreApplication::processEvents();
            const QRect inside = tile.contentsRect();

            QFont resultFont = tile.font();
            resultFont.setPixelSize(grid.scale.resultPx);
            resultFont.setBold(true);
            const int ink =
                QFontMetrics(resultFont).tightBoundingRect(QStringLiteral("PASS")).height();
            const bool big =
                screen == QSize(1366, 768) ? writers <= 8 : screen == QSize(1920, 1080);
            if (big) {
                EXPECT_GE(ink * 8, grid.tileHeight) << "result word " << ink << " px";
            }
            EXPECT_TRUE(grid.readable || !big);

            auto* panel = tile.PN_Tile_Status;
            const std::pair<production::TileStatus, std::string> statuses[] = {
                {production::TileStatus::Pass, ""},
                {production::TileStatus::Fail, "Verify failed at 0x1F000"},
                {production::TileStatus::Programming, ""},
                {production::TileStatus::InsertChip, ""},
                {production::TileStatus::Disconnected, ""},
            };
            for (const auto& [status, detail] : statuses) {
                panel->showStatus(status, detail);
                EXPECT_LE(textHeight(*panel), panel->contentsRect().height())
                    << panel->shownText().toStdString();
                // A word wider than the panel would stick out of the wrapped text.
                QTextDocument doc;
                doc.setDefaultFont(panel->font());
                doc.setHtml(panel->text());
                doc.setTextWidth(panel->contentsRect().width());
                EXPECT_LE(doc.size().width(), panel->contentsRect().width())
                    << panel->shownText().toStdString();
            }
            for (QWidget* w :
                 std::initializer_list<QWidget*>{tile.LB_Tile_Writer, panel, tile.CG_Tile_Progress,
                                                 tile.LB_Tile_Counters, tile.BT_Tile_Restart})
                EXPECT_TRUE(inside.contains(w->geometry())) << w->objectName().toStdString();
            const QString counters = QStringLiteral("PASS 9999   FAIL 999   TOTAL 9999");
            if (big) {
                EXPECT_LE(QFontMetrics(tile.LB_Tile_Counters->font()).horizontalAdvance(counters),
                          tile.LB_Tile_Counters->width());
            }
            EXPECT_GE(tile.LB_Tile_Counters->height(),
                      QFontMetrics(tile.LB_Tile_Counters->font()).height());
            EXPECT_GE(tile.BT_Tile_Restart->width(), tile.BT_Tile_Restart->sizeHint().width());
        }
    }
}

// The banner counts ten minutes from the last input; input moves the time
// on, the Lock button and the limit both lock.
TEST(OperatorView, EngineerBannerRelocksAfterTenMinutesWithoutInput) {
    QDateTime now(QDate(2026, 3, 2), QTime(14, 0));
    production::EngineerBanner banner;
    banner.setClock([&] { return now; });
    int locks = 0;
    QObject::connect(&banner, &production::EngineerBanner::lockRequested, [&] { ++locks; });

    banner.unlocked();
    EXPECT_TRUE(banner.isVisibleTo(nullptr) || !banner.isHidden());
    EXPECT_TRUE(banner.LB_Engineer_Text->text().contains(QStringLiteral("unlocked")));
    EXPECT_TRUE(banner.LB_Engineer_Text->text().contains(QStringLiteral("14:10")));

    struct Step {
        int minutes;  // after the previous step
        bool input;   // a key pressed then
        int locks;    // locks so far, after check()
        const char* locksAt;
    };
    const Step steps[] = {
        {9, false, 0, "14:10"},  // 14:09: still open
        {0, true, 0, "14:19"},   // a key at 14:09 moves the time on
        {9, false, 0, "14:19"},  // 14:18
        {1, false, 1, nullptr},  // 14:19: locked
        {5, true, 1, nullptr},   // input after the lock changes nothing
    };
    QWidget target;
    for (const auto& step : steps) {
        now = now.addSecs(step.minutes * 60);
        if (step.input) {
            QKeyEvent key(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
            QCoreApplication::sendEvent(&target, &key);
        }
        banner.check();
        EXPECT_EQ(locks, step.locks) << now.toString().toStdString();
        EXPECT_EQ(banner.active(), step.locksAt != nullptr);
        if (step.locksAt) {
            EXPECT_TRUE(banner.LB_Engineer_Text->text().contains(QLatin1String(step.locksAt)))
                << banner.LB_Engineer_Text->text().toStdString();
        }
    }
    EXPECT_TRUE(banner.isHidden());

    banner.unlocked();
    banner.BT_Engineer_Lock->click();
    EXPECT_EQ(locks, 2);
    EXPECT_FALSE(banner.active());
}

// The engineer's dialog reads a job, writes it again under a new name with
// its hashes, and refuses what `job new` refuses.
TEST(OperatorView, TheJobEditorSavesAJobWithItsHashes) {
    ProductionRig rig;
    ScriptedFileChooser files;
    production::JobRequest r;
    r.target = production::Target::Tarn20;
    r.image = rig.tarnImage(20);
    const auto original = rig.makeJob(r);
    production::JobEditor editor(files, rig.paths.setupIni(), rig.keys, {});
    ASSERT_TRUE(editor.edit(original.file));
    EXPECT_EQ(editor.ED_Job_WritePages->text(), QStringLiteral("20"));

    struct Row {
        const char* image;  // nullptr: the job's own
        const char* startPage;
        bool saves;
    };
    const Row rows[] = {{nullptr, "abc", false},
                        {"", "0", false},
                        {"missing.bin", "0", false},
                        {nullptr, "2", true}};
    const auto copy = rig.dir / "copy.json";
    for (const auto& row : rows) {
        SCOPED_TRACE(row.startPage);
        if (row.image)
            editor.ED_Job_Image->setText(QString::fromLatin1(row.image));
        else
            editor.ED_Job_Image->setText(QString::fromStdString(r.image.string()));
        editor.ED_Job_StartPage->setText(QString::fromLatin1(row.startPage));
        editor.ED_Job_WritePages->setText(QStringLiteral("10"));
        editor.ED_Job_File->setText(QString::fromStdString(copy.string()));
        editor.ED_Job_Name->setText(QStringLiteral("Copy"));
        const auto error = editor.save();
        EXPECT_EQ(!error, row.saves) << error.value_or("");
        EXPECT_EQ(std::filesystem::exists(copy), row.saves);
    }
    ASSERT_TRUE(editor.saved());
    const auto& saved = *editor.saved();
    EXPECT_EQ(saved.job.name, "Copy");
    EXPECT_EQ(saved.job.startPage, 2u);
    EXPECT_EQ(saved.job.writePages, 10u);
    EXPECT_EQ(saved.job.imageSha256, original.job.imageSha256);
    EXPECT_EQ(saved.fileSha256, *production::sha256File(copy));
    EXPECT_TRUE(editor.LB_Job_Result->text().contains(QString::fromStdString(saved.fileSha256)));
}

}  // namespace
}  // namespace sonoprog::test
