// The transfer list in the real main window, driven by notifications as the
// engine sends them: rows, colours and bars, the row limit and its log, the
// quiet tick, the alert while minimised, window placement, menus and splash.
#include "fake_host.h"

#include "platform/control_ids.h"
#include "server/app/command_ids.h"
#include "server/app/dunmore_doc.h"
#include "server/app/help_window.h"
#include "server/app/main_frame.h"
#include "server/app/new_client_alert.h"
#include "server/app/new_view.h"
#include "server/app/startup_splash.h"
#include "server/app/transfer_row_delegate.h"
#include "tests/support/event_loop.h"
#include "tests/support/temp_dir.h"

#include <QAction>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPushButton>
#include <QShortcut>
#include <QSignalSpy>
#include <QTest>
#include <QTextBrowser>
#include <QToolBar>
#include <QToolTip>
#include <QWhatsThis>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <ctime>
#include <memory>

#include <gtest/gtest.h>

using namespace vantrel;

namespace {

constexpr char kStart[] = "09 Sep, 01:46";  // the fake clock's time in UTC

class ViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
        host.settings.LogFile = dir.File("Orvane.log");
    }
    void TearDown() override {
        frame.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void Open() {
        doc = std::make_unique<CDunmoreDoc>(label);
        frame = std::make_unique<CMainFrame>(app, host, *doc);
        doc->SetView(View());
        doc->OnTitleChanged([this](const QString& t) { frame->SetDocumentTitle(t); });
        doc->OnNewDocument();
        View()->OnInitialUpdate();
        frame->show();
    }
    CNewView* View() const { return frame->View(); }
    TransferListModel& Model() const { return View()->Model(); }
    int Rows() const { return Model().Count(); }
    std::string Cell(int row, int column) const {
        return TransferListModel::CellText(Model().Row(row), column);
    }
    int Value(int row) const { return Model().Row(row).itemValue; }

    void Deliver(const TransferEvent& event) { View()->OnTransferEvent(event); }
    void Started(int number, const std::string& client) { Deliver(TransferStarted{number, client}); }
    void Progress(int number, std::int64_t done, std::int64_t total, const std::string& text = {}) {
        Deliver(TransferProgress{number, done, total, text});
    }
    void Finished(int number, const std::string& result, int timedOut = 0) {
        Deliver(TransferEnded{number, timedOut != 0});
        Deliver(TransferResult{number, result});
    }
    std::string Log() const { return tests::ReadFile(host.settings.LogFile); }
    long LogLines() const {
        const std::string log = Log();
        return std::count(log.begin(), log.end(), '\n');
    }

    tests::TempDir dir;
    FakeHost host;
    FakeApp app;
    std::string label = "127.0.0.1.69";
    std::unique_ptr<CDunmoreDoc> doc;
    std::unique_ptr<CMainFrame> frame;
};

// Paints one cell of the model with the delegate onto a white image.
QImage PaintCell(CNewView* view, int row, int column, const QRect& cell, QSize size = {120, 24}) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    QStyleOptionViewItem option;
    option.rect = cell;
    QFont font = view->font();
    font.setStyleStrategy(QFont::NoAntialias);
    option.font = font;
    option.fontMetrics = QFontMetrics(font);
    view->Delegate().paint(&painter, option, view->Model().index(row, column));
    painter.end();
    return image;
}

int CountColour(const QImage& image, const QColor& colour) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixelColor(x, y) == colour) ++n;
    return n;
}

}  // namespace

TEST_F(ViewTest, TheListOpensWithOneRedReadyRowAndStartsItsTimer) {
    Open();
    ASSERT_EQ(Rows(), 1);
    EXPECT_EQ(Cell(0, kColumnClient), "Vantrel");
    EXPECT_EQ(Cell(0, kColumnFile), "");
    EXPECT_EQ(Cell(0, kColumnStart), kStart);
    EXPECT_EQ(Cell(0, kColumnFinish), "");
    EXPECT_EQ(Cell(0, kColumnResult), "Ready");
    EXPECT_EQ(Value(0), kItemFailed);
    EXPECT_EQ(TransferRowDelegate::TextColour(Value(0)), QColor(255, 0, 0));
    EXPECT_TRUE(View()->TimerRunning());
    EXPECT_TRUE(host.idleCheckCleared);
    QHeaderView* header = View()->horizontalHeader();
    const char* headers[] = {"Client", "File", "Status", "Start", "Finish", "Result"};
    const int widths[] = {150, 120, 80, 90, 90};
    for (int c = 0; c < 6; ++c)
        EXPECT_EQ(Model().headerData(c, Qt::Horizontal, Qt::DisplayRole).toString(), headers[c]);
    for (int c = 0; c < 5; ++c) EXPECT_EQ(header->sectionSize(c), widths[c]);
    // The last column fills the rest of a wide window.
    frame->resize(1000, 300);
    tests::RunFor(50);
    EXPECT_EQ(header->sectionSize(5), View()->viewport()->width() - 530);

    // A renewed document only re-applies the placement: still one row.
    doc->OnNewDocument();
    View()->OnInitialUpdate();
    EXPECT_EQ(Rows(), 1);
    EXPECT_EQ(frame->windowTitle(), "Vantrel - 127.0.0.1.69");
}

TEST_F(ViewTest, NotificationsChangeTheNewestRowHoldingTheirNumber) {
    Open();
    Started(7, "10.0.0.5");
    ASSERT_EQ(Rows(), 2);
    EXPECT_EQ(Value(1), 7);
    EXPECT_EQ(TransferRowDelegate::TextColour(Value(1)), QColor(0, 0, 255));
    Deliver(TransferFile{7, "/srv/tftp/boot.img"});
    EXPECT_EQ(Cell(1, kColumnFile), "/srv/tftp/boot.img");

    Progress(7, 512, 1000);
    EXPECT_EQ(Cell(1, kColumnStatus), "%51, 512");
    // With no total the text is shown.
    Progress(7, 512, 0, "Retrying");
    EXPECT_EQ(Cell(1, kColumnStatus), "Retrying");

    host.clock.Advance(240);
    Deliver(TransferEnded{7, false});
    EXPECT_EQ(Cell(1, kColumnStatus), "Terminated");
    EXPECT_EQ(Cell(1, kColumnFinish), "09 Sep, 01:50");
    EXPECT_EQ(Value(1), 7) << "the engine's end notice keeps the item value";
    Deliver(TransferResult{7, "Finished : Sending"});
    EXPECT_EQ(Cell(1, kColumnResult), "Finished : Sending");
    EXPECT_EQ(Value(1), kItemEnded);
    EXPECT_EQ(TransferRowDelegate::TextColour(Value(1)), QColor(0, 0, 0));

    // Ended rows are never found again; unknown numbers change nothing.
    Deliver(TransferFile{7, "/elsewhere"});
    Deliver(TransferResult{99, "TimedOut : Receiving"});
    EXPECT_EQ(Cell(1, kColumnFile), "/srv/tftp/boot.img");
    EXPECT_EQ(Rows(), 2);

    // The same number twice (after the counter came round): the newer row changes.
    Started(3, "10.0.0.6");
    Started(3, "10.0.0.7");
    EXPECT_EQ(View()->FindRowByNumber(3), 3);
    Finished(3, "TimedOut : Receiving", 1);
    EXPECT_EQ(Value(3), kItemFailed);
    EXPECT_EQ(Value(2), 3);
    EXPECT_EQ(Cell(2, kColumnResult), "");
}

// A name a rule rewrote shows what was asked, then what is served; a name
// served as asked shows as it always did.
TEST_F(ViewTest, ARewrittenNameShowsTheNameAskedAndTheFileServed) {
    Open();
    Started(8, "10.0.0.5");
    Deliver(TransferFile{8, "/srv/tftp/boot/pxelinux.0", "/tftpboot/PXELINUX.0"});
    EXPECT_EQ(Cell(1, kColumnFile), "/tftpboot/PXELINUX.0 -> /srv/tftp/boot/pxelinux.0");
    Started(9, "10.0.0.6");
    Deliver(TransferFile{9, "/srv/tftp/boot/pxelinux.0"});
    EXPECT_EQ(Cell(2, kColumnFile), "/srv/tftp/boot/pxelinux.0");
}

TEST_F(ViewTest, ProgressTextTruncatesAndCarriesSixtyFourBitCounts) {
    Open();
    Started(2, "10.0.0.2");
    const auto status = [&](std::int64_t done, std::int64_t total) {
        Progress(2, done, total);
        return Cell(1, kColumnStatus);
    };
    EXPECT_EQ(status(1, 3), "%33, 1");
    EXPECT_EQ(status(2, 3), "%66, 2");
    EXPECT_EQ(status(0, 1000), "%0, 0");
    EXPECT_EQ(status(1000, 1000), "%100, 1000");
    EXPECT_EQ(status(3'000'000'000LL, 6'000'000'000LL), "%50, 3000000000");
    // Graphic values: the digits after "%" (three at most), 0 counting as 1.
    status(0, 1000);
    EXPECT_EQ(Model().Row(1).GraphicValue(), 1);
    status(70, 1000);
    EXPECT_EQ(Model().Row(1).GraphicValue(), 7);
    status(12345, 1000);  // more done than the total: %1234 reads as 123
    EXPECT_EQ(Model().Row(1).GraphicValue(), 123);
    Progress(2, 0, 0, "Receiving");
    EXPECT_EQ(Model().Row(1).GraphicValue(), 0);
}

TEST_F(ViewTest, TheDelegatePaintsRowColoursOnGrey) {
    Open();
    Started(2, "10.0.0.2");  // running: blue
    Started(3, "10.0.0.3");
    Finished(3, "Finished : Sending");  // black
    Started(4, "10.0.0.4");
    Finished(4, "TimedOut : Sending", 1);  // red
    Started(5, "10.0.0.5");
    View()->MarkRunningRowsAbandoned();  // rows 1 and 4 (numbers 2 and 5): yellow
    const QColor grey(192, 192, 192);
    const struct {
        int row;
        QColor colour;
    } cases[] = {{1, QColor(255, 255, 0)}, {2, QColor(0, 0, 0)}, {3, QColor(255, 0, 0)}, {4, QColor(255, 255, 0)}};
    const QColor all[] = {QColor(0, 0, 255), QColor(0, 0, 0), QColor(255, 0, 0), QColor(255, 255, 0)};
    for (const auto& c : cases) {
        const QImage image = PaintCell(View(), c.row, kColumnClient, QRect(0, 0, 120, 24));
        EXPECT_GT(CountColour(image, c.colour), 10) << "row " << c.row;
        EXPECT_EQ(image.pixelColor(0, 0), grey);
        EXPECT_EQ(image.pixelColor(119, 23), grey);
        for (const QColor& other : all)
            if (other != c.colour) {
                EXPECT_EQ(CountColour(image, other), 0) << "row " << c.row;
            }
    }
    Started(6, "10.0.0.6");
    const QImage running = PaintCell(View(), 5, kColumnClient, QRect(0, 0, 120, 24));
    EXPECT_GT(CountColour(running, QColor(0, 0, 255)), 10);
    EXPECT_EQ(CountColour(running, QColor(255, 255, 255)), 0) << "the whole cell is grey";
}

TEST_F(ViewTest, GraphicModeDrawsTheStatusAsABarOfItsPercentage) {
    Open();
    Started(2, "10.0.0.2");
    View()->OnUseGraphic();
    ASSERT_TRUE(View()->GraphicFlag());
    EXPECT_EQ(host.settings.bUseGraphic, 1);
    const QColor red(255, 0, 0), blue(0, 0, 255), white(255, 255, 255);
    const QRect cell(10, 0, 80, 18);  // w - 2 = 78

    Progress(2, 70, 1000);  // %7: trunc(78 * 0.07) = 5
    QImage image = PaintCell(View(), 1, kColumnStatus, cell);
    EXPECT_EQ(image.pixelColor(10, 0), red);
    EXPECT_EQ(image.pixelColor(10, 17), red);
    EXPECT_EQ(image.pixelColor(87, 9), red);    // the frame's right edge: x + w - 3
    EXPECT_EQ(image.pixelColor(88, 9), white);  // nothing beyond it
    EXPECT_EQ(image.pixelColor(11, 9), blue);
    EXPECT_EQ(image.pixelColor(13, 9), blue);
    EXPECT_EQ(image.pixelColor(14, 9), white);  // the bar ends at x - 1 + 5
    EXPECT_EQ(image.pixelColor(11, 0), red);
    EXPECT_EQ(image.pixelColor(11, 1), blue);
    EXPECT_EQ(image.pixelColor(11, 16), blue);
    EXPECT_EQ(CountColour(image, blue), 3 * 16);
    EXPECT_EQ(CountColour(image, QColor(192, 192, 192)), 0) << "no grey, no text";

    Progress(2, 1000, 1000);  // %100: the bar fills the frame
    image = PaintCell(View(), 1, kColumnStatus, cell);
    EXPECT_EQ(image.pixelColor(86, 9), blue);
    EXPECT_EQ(image.pixelColor(87, 9), red);
    EXPECT_EQ(CountColour(image, blue), 76 * 16);

    Progress(2, 0, 1000);  // %0 counts as 1: trunc(0.78) = 0, no bar
    image = PaintCell(View(), 1, kColumnStatus, cell);
    EXPECT_EQ(image.pixelColor(10, 0), red);
    EXPECT_EQ(CountColour(image, blue), 0);

    Progress(2, 5000, 1000);  // %500: kept inside the cell
    image = PaintCell(View(), 1, kColumnStatus, cell);
    EXPECT_EQ(image.pixelColor(95, 9), white);

    // A status that does not start with "%" is text on grey.
    Deliver(TransferEnded{2, false});
    image = PaintCell(View(), 1, kColumnStatus, cell);
    EXPECT_EQ(image.pixelColor(10, 0), QColor(192, 192, 192));
    EXPECT_GT(CountColour(image, blue), 10) << "blue text of a running row";

    // Text mode again: the progress is text.
    View()->OnUseGraphic();
    EXPECT_EQ(host.settings.bUseGraphic, 0);
    Progress(2, 70, 1000);
    image = PaintCell(View(), 1, kColumnStatus, cell);
    EXPECT_EQ(image.pixelColor(10, 0), QColor(192, 192, 192));
}

TEST_F(ViewTest, TheRowLimitLogsTheOldestRowsInTheExactLineFormat) {
    host.settings.nMaxDisplay = 0;  // 5 rows
    Open();
    for (int n = 2; n <= 5; ++n) Started(n, "10.0.0." + std::to_string(n));
    Deliver(TransferFile{2, "/srv/tftp/out/boot.img"});
    host.clock.Advance(240);
    Finished(2, "Finished : Sending");
    ASSERT_EQ(Rows(), 5);
    EXPECT_FALSE(tests::FileExists(host.settings.LogFile));

    Started(6, "10.0.0.6");
    EXPECT_EQ(Rows(), 5);
    EXPECT_EQ(Cell(0, kColumnClient), "10.0.0.2");
    EXPECT_EQ(Cell(4, kColumnClient), "10.0.0.6");
    // The Ready row: empty File and Finish keep their separating blanks.
    EXPECT_EQ(Log(), std::string("Vantrel  ") + kStart + "  Ready\r\n");

    Started(7, "10.0.0.7");
    EXPECT_EQ(Log(), std::string("Vantrel  ") + kStart + "  Ready\r\n" +
                         "10.0.0.2 /srv/tftp/out/boot.img " + kStart + " 09 Sep, 01:50 Finished : Sending\r\n");
    // A running row leaves too, unfinished, and its transfer's notices go nowhere.
    Started(8, "10.0.0.8");
    EXPECT_EQ(View()->FindRowByNumber(3), -1);
    Deliver(TransferResult{3, "Finished : Sending"});
    EXPECT_EQ(Rows(), 5);
    EXPECT_NE(Log().find("10.0.0.3  09 Sep, 01:46  \r\n"), std::string::npos) << Log();
}

TEST_F(ViewTest, LoweringTheLimitActsAtTheNextArrival) {
    Open();
    for (int n = 2; n <= 40; ++n) Started(n, "10.0.1." + std::to_string(n));
    ASSERT_EQ(Rows(), 40);
    host.settings.nMaxDisplay = 0;
    EXPECT_EQ(Rows(), 40);
    Started(41, "10.0.1.41");
    EXPECT_EQ(Rows(), 5);
    EXPECT_EQ(Cell(0, kColumnClient), "10.0.1.37");
    const std::string log = Log();
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 36);
    EXPECT_EQ(log.rfind("10.0.1.36 ", std::string::npos), log.size() - std::string("10.0.1.36  09 Sep, 01:46  \r\n").size());
    EXPECT_EQ(CNewView::RowLimit(6), 100);
    EXPECT_EQ(CNewView::RowLimit(15), 100);
    EXPECT_EQ(CNewView::RowLimit(5), 50);
}

TEST_F(ViewTest, ClearDisplayLogsEveryRowOldestFirstOrNoneWithoutALog) {
    Open();
    Started(2, "10.0.0.2");
    Started(3, "10.0.0.3");
    frame->UpdateCommandUi();
    EXPECT_TRUE(frame->Action(ID_CLEAR_DISPLAY)->isEnabled());
    frame->ExecuteCommand(ID_CLEAR_DISPLAY);
    EXPECT_EQ(Rows(), 0);
    EXPECT_EQ(Log(), std::string("Vantrel  ") + kStart + "  Ready\r\n" + "10.0.0.2  " + kStart + "  \r\n" +
                         "10.0.0.3  " + kStart + "  \r\n");
    EXPECT_FALSE(frame->Action(ID_CLEAR_DISPLAY)->isEnabled()) << "nothing left to clear";

    // Lines are only ever appended.
    Started(4, "10.0.0.4");
    View()->DeleteAllRows();
    EXPECT_EQ(LogLines(), 4);

    // No log file: the rows go, nothing is written.
    const std::string logFile = host.settings.LogFile;
    host.settings.LogFile.clear();
    Started(5, "10.0.0.5");
    View()->DeleteAllRows();
    EXPECT_EQ(Rows(), 0);
    host.settings.LogFile = logFile;
    EXPECT_EQ(LogLines(), 4);
}

// A log that could not be written lost its rows without a word. The status
// bar now names the file and the reason, once, until the log works again.
TEST_F(ViewTest, ALogThatCannotBeWrittenIsToldOnceInTheStatusBar) {
    const struct {
        std::string file, reason;
    } cases[] = {
        {dir.File("missing/folder/rows.log"), "No such file or directory"},  // cannot be opened
        {"/dev/full", "No space left on device"},                            // cannot be written
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        host.settings.LogFile = c.file;
        Open();
        int told = 0;
        QObject::connect(View(), &CNewView::LogProblem, [&](const QString& text) { told += !text.isEmpty(); });
        Started(2, "10.0.0.2");
        View()->DeleteAllRows();
        Started(3, "10.0.0.3");
        View()->DeleteAllRows();
        EXPECT_EQ(Rows(), 0);
        EXPECT_EQ(told, 1);
        EXPECT_FALSE(frame->LogStatus()->isHidden());
        EXPECT_EQ(frame->LogStatus()->text().toStdString(), "Cannot write the log file " + c.file + ": " + c.reason);
        EXPECT_TRUE(host.prompts.Prompts().empty()) << "no message box in the middle of the transfers";

        host.settings.LogFile = dir.File("rows.log");
        Started(4, "10.0.0.4");
        View()->DeleteAllRows();
        EXPECT_TRUE(frame->LogStatus()->isHidden()) << "the log works again";
        EXPECT_EQ(tests::ReadFile(host.settings.LogFile), "10.0.0.4  " + std::string(kStart) + "  \r\n");
        std::filesystem::remove(host.settings.LogFile);
    }
}

// A file name comes from the network: line breaks in it must not split a log
// line or forge another one.
TEST_F(ViewTest, ControlCharactersInNetworkTextsBecomeVisibleStandIns) {
    Open();
    Started(2, "10.0.0.2");
    Deliver(TransferFile{2, "/srv/out/a\r\n10.6.6.6 /etc/passwd 01 Jan, 00:00 01 Jan, 00:00 Finished\tb\x7f"});
    Deliver(TransferEnded{2, false});
    Deliver(TransferResult{2, "bad\npeer \xc2\x85text\xe2\x80\xa8!"});
    EXPECT_EQ(Cell(1, kColumnFile),
              "/srv/out/a^M^J10.6.6.6 /etc/passwd 01 Jan, 00:00 01 Jan, 00:00 Finished^Ib^?");
    EXPECT_EQ(Cell(1, kColumnResult), "bad^Jpeer ?text?!");
    View()->DeleteAllRows();
    const std::string log = Log();
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 2) << log;
    EXPECT_EQ(std::count(log.begin(), log.end(), '\r'), 2) << log;
    // Ordinary UTF-8 names stay as they are.
    Open();
    Started(2, "10.0.0.2");
    Deliver(TransferFile{2, "/srv/out/caf\xc3\xa9 \xe2\x82\xac.txt"});
    EXPECT_EQ(Cell(1, kColumnFile), "/srv/out/caf\xc3\xa9 \xe2\x82\xac.txt");
}

TEST_F(ViewTest, ALongFileNameStaysWholeInItsRowTooltipAndLogAndIsShortenedInTheMiddleOnScreen) {
    Open();
    // A per-machine boot file below a long folder: the end tells machines apart.
    const std::string path = "/srv/tftp/" + std::string(180, 'p') + "/pxelinux.cfg-01-52-54-00-12-34-56";
    Started(2, "10.0.0.2");
    Deliver(TransferFile{2, path});
    Finished(2, "Finished : Sending");
    EXPECT_EQ(Cell(1, kColumnFile), path);
    const QModelIndex file = Model().index(1, kColumnFile);
    EXPECT_EQ(Model().data(file, Qt::ToolTipRole).toString().toStdString(), path);
    EXPECT_FALSE(Model().data(Model().index(1, kColumnClient), Qt::ToolTipRole).isValid());

    // The cell, 120 pixels wide, shows the start and the end of the name.
    const QFontMetrics m(View()->font());
    const QString shown = TransferRowDelegate::Elide(m, QString::fromStdString(path), 120, true);
    EXPECT_LE(m.horizontalAdvance(shown), 120);
    EXPECT_TRUE(shown.startsWith(QStringLiteral("\u2026/p"))) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith(QStringLiteral("-56"))) << shown.toStdString();
    EXPECT_EQ(shown.count(QChar(0x2026)), 2) << shown.toStdString();

    // Hovering over the cell shows the whole path.
    const QPoint at = View()->visualRect(file).center();
    QHelpEvent hover(QEvent::ToolTip, at, View()->viewport()->mapToGlobal(at));
    QCoreApplication::sendEvent(View()->viewport(), &hover);
    EXPECT_EQ(QToolTip::text().toStdString(), path);
    QToolTip::hideText();

    View()->DeleteAllRows();
    EXPECT_NE(Log().find("\r\n10.0.0.2 " + path + " " + kStart + " "), std::string::npos) << Log();
}

TEST_F(ViewTest, AQuietTickMarksRunningRowsAbandonedWhateverCameBefore) {
    Open();
    Started(2, "10.0.0.2");
    Started(3, "10.0.0.3");
    Finished(3, "Finished : Receiving");
    host.transfers = 1;
    View()->OnTimer();
    EXPECT_EQ(host.sweeps, 1);
    EXPECT_EQ(Value(1), 2) << "a transfer is listed: nothing is marked";

    host.transfers = 0;
    host.clock.Advance(60);
    View()->OnTimer();
    EXPECT_EQ(Value(1), kItemAbandoned);
    EXPECT_EQ(Cell(1, kColumnStatus), "Terminated");
    EXPECT_EQ(Cell(1, kColumnFinish), "09 Sep, 01:47");
    EXPECT_EQ(Value(2), kItemEnded) << "ended rows stay as they are";
    EXPECT_EQ(Value(0), kItemFailed) << "the Ready row stays red";

    // A row that arrived since, its transfer dropped (by a restart) before a
    // tick saw it, used to stay blue for good. It turns yellow all the same.
    Started(4, "10.0.0.4");
    host.clock.Advance(60);
    View()->OnTimer();
    EXPECT_EQ(Value(3), kItemAbandoned);
    EXPECT_EQ(Cell(1, kColumnFinish), "09 Sep, 01:47") << "marked rows are not marked again";
    // So does one after a tick that found a transfer.
    Started(5, "10.0.0.5");
    host.transfers = 1;
    View()->OnTimer();
    EXPECT_EQ(Value(4), 5);
    host.transfers = 0;
    View()->OnTimer();
    EXPECT_EQ(Value(4), kItemAbandoned);

    // The periodic check reports ended transfers during the tick.
    Started(6, "10.0.0.6");
    host.onSweep = [&] { Finished(6, "File not found : Sending"); };
    View()->OnTimer();
    EXPECT_EQ(Value(5), kItemEnded);
    EXPECT_EQ(Cell(5, kColumnResult), "File not found : Sending");
}

TEST_F(ViewTest, ANewClientWhileMinimisedShowsTheAlertUntilTheWindowComesBack) {
    Open();
    frame->showMinimized();
    ASSERT_TRUE(frame->isMinimized());
    Started(2, "10.0.0.2");
    QPointer<CNewClientAlert> alert = View()->Alert();
    ASSERT_TRUE(alert);
    EXPECT_TRUE(alert->isVisible());
    EXPECT_EQ(alert->windowTitle(), "Vantrel          New Client being Served");
    EXPECT_TRUE(alert->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(alert->parentWidget(), nullptr);
    auto* edit = platform::FindControl<QLineEdit>(alert, CNewClientAlert::IDC_CLIENT);
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(edit->text(), "10.0.0.2");
    EXPECT_TRUE(edit->isReadOnly());
    ASSERT_NE(platform::FindControl<CAlertAnimation>(alert, CNewClientAlert::IDC_ANIMATE), nullptr);
    EXPECT_TRUE(alert->Animation()->Playing());
    const int frame0 = alert->Animation()->Frame();
    ASSERT_TRUE(tests::RunUntil([&] { return alert->Animation()->Frame() != frame0; }, 5000));
    // Magenta background.
    const QImage shot = alert->grab().toImage();
    EXPECT_EQ(shot.pixelColor(2, shot.height() - 2), QColor(255, 0, 255));

    // A click on any part hides it; it stays in existence.
    QTest::mouseClick(edit, Qt::LeftButton);
    EXPECT_FALSE(alert->isVisible());
    ASSERT_TRUE(alert);
    // The next client shows the same alert with the newest address.
    Started(3, "10.0.0.3");
    EXPECT_EQ(View()->Alert(), alert.data());
    EXPECT_TRUE(alert->isVisible());
    EXPECT_EQ(edit->text(), "10.0.0.3");
    // The OK button hides it too, and so does a key.
    auto* ok = platform::FindControl<QPushButton>(alert, CNewClientAlert::IDOK_BUTTON);
    ASSERT_NE(ok, nullptr);
    QTest::mouseClick(ok, Qt::LeftButton);
    EXPECT_FALSE(alert->isVisible());
    Started(4, "10.0.0.4");
    QTest::keyClick(alert, Qt::Key_Escape);
    EXPECT_FALSE(alert->isVisible());
    QTest::keyClick(edit, Qt::Key_A);
    EXPECT_FALSE(alert->isVisible());
    EXPECT_EQ(alert->result(), 0) << "the dialog itself never closed";

    // Restoring the window destroys it.
    Started(5, "10.0.0.5");
    frame->showNormal();
    EXPECT_EQ(View()->Alert(), nullptr);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(alert);
}

TEST_F(ViewTest, AQuietTickDestroysTheAlertBeforeMarkingRows) {
    Open();
    frame->showMinimized();
    Started(2, "10.0.0.2");
    ASSERT_NE(View()->Alert(), nullptr);
    View()->OnTimer();
    EXPECT_EQ(View()->Alert(), nullptr);
    EXPECT_EQ(Value(1), 2) << "that tick only closed the alert";
    View()->OnTimer();
    EXPECT_EQ(Value(1), kItemAbandoned);

    // Switched off: no alert.
    host.settings.bAlertMinimised = 0;
    Started(3, "10.0.0.3");
    EXPECT_EQ(View()->Alert(), nullptr);
}

TEST_F(ViewTest, TheSavedRectangleIsAppliedUnlessOffScreenOrMinimisedAtStart) {
    host.placement = WindowRect{40, 50, 640, 450};
    Open();
    EXPECT_EQ(frame->frameGeometry().topLeft(), QPoint(40, 50));
    EXPECT_EQ(frame->frameGeometry().size(), QSize(600, 400));
    frame->close();
    ASSERT_EQ(host.saved.size(), 1u);
    EXPECT_EQ(host.saved[0].left, 40);
    EXPECT_EQ(host.saved[0].top, 50);
    EXPECT_EQ(host.saved[0].right, 640);
    EXPECT_EQ(host.saved[0].bottom, 450);
    EXPECT_TRUE(app.closed);
    EXPECT_FALSE(View()->TimerRunning());

    // Left at 3000: the default place.
    host.placement = WindowRect{3000, 50, 3600, 450};
    Open();
    EXPECT_NE(frame->frameGeometry().x(), 3000);
    host.placement = WindowRect{100, 2900, 700, 3300};
    Open();
    EXPECT_NE(frame->frameGeometry().y(), 2900);
    host.placement = WindowRect{40, 50, 640, 450};
    host.settings.bMinimiseAtStart = 1;
    Open();
    EXPECT_NE(frame->frameGeometry().topLeft(), QPoint(40, 50));
}

// A transfer that had finished but was not yet reported used to be logged
// at exit without its result: the check now runs once before the rows go.
TEST_F(ViewTest, ClosingTheWindowChecksOnceThenLogsTheRowsThenSavesTheRectangle) {
    Open();
    Started(2, "10.0.0.2");
    host.onSweep = [&] { Finished(2, "Finished : Sending"); };
    frame->ExecuteCommand(ID_APP_EXIT);
    EXPECT_TRUE(frame->Closed());
    EXPECT_EQ(host.sweeps, 1);
    EXPECT_EQ(Rows(), 0);
    EXPECT_EQ(Log(), std::string("Vantrel  ") + kStart + "  Ready\r\n10.0.0.2  " + kStart + " " + kStart +
                         " Finished : Sending\r\n");
    EXPECT_EQ(host.saved.size(), 1u);
    EXPECT_TRUE(app.closed);
}

TEST_F(ViewTest, ChangesToRowsReachTheScreenInBatches) {
    Open();
    Started(2, "10.0.0.2");
    Model().FlushChanges();
    QSignalSpy changed(&Model(), &QAbstractItemModel::dataChanged);
    for (int i = 1; i <= 200; ++i) Progress(2, i * 512, 200 * 512);
    EXPECT_EQ(changed.count(), 0) << "no repaint per block";
    EXPECT_EQ(Cell(1, kColumnStatus), "%100, 102400");
    ASSERT_TRUE(tests::RunUntil([&] { return changed.count() > 0; }, 5000));
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(changed.at(0).at(0).value<QModelIndex>().row(), 1);
}

TEST_F(ViewTest, MenusAcceleratorsToolbarAndPromptsCarryTheirTexts) {
    Open();
    const QList<QAction*> menus = frame->menuBar()->actions();
    ASSERT_EQ(menus.size(), 4);
    const QStringList titles = {"&File", "System", "&View", "&Help"};
    const std::vector<QStringList> items = {
        {"&Stop Serving\tCtrl+S", "S&tart Serving\tCtrl+G", "-", "E&xit"},
        {"Set&up\tCtrl+U", "-", "&Info"},
        {"&Toolbar", "&Status Bar", "-", "&Clear Display", "-", "&Use Graphic "},
        {"&Help Topics\tF1", "-", "&About Vantry...\tCtrl+A", "-", "&Check Version ..."},
    };
    const std::vector<std::vector<int>> ids = {
        {ID_STOP_SERVING, ID_START_SERVING, 0, ID_APP_EXIT},
        {ID_SETUP, 0, ID_SERVER_INFO},
        {ID_VIEW_TOOLBAR, ID_VIEW_STATUS_BAR, 0, ID_CLEAR_DISPLAY, 0, ID_USE_GRAPHIC},
        {ID_HELP_FINDER, 0, ID_APP_ABOUT, 0, ID_CHECK_VERSION},
    };
    for (int m = 0; m < 4; ++m) {
        EXPECT_EQ(menus[m]->text(), titles[m]);
        const QList<QAction*> entries = menus[m]->menu()->actions();
        ASSERT_EQ(entries.size(), items[m].size());
        for (int i = 0; i < entries.size(); ++i) {
            if (items[m][i] == "-") {
                EXPECT_TRUE(entries[i]->isSeparator());
                continue;
            }
            EXPECT_EQ(entries[i]->text(), items[m][i]);
            EXPECT_EQ(entries[i]->data().toInt(), ids[m][i]);
        }
    }
    const auto prompt = [&](int id) { return frame->Action(id)->statusTip(); };
    const auto tip = [&](int id) { return frame->Action(id)->toolTip(); };
    EXPECT_EQ(prompt(ID_STOP_SERVING), "Stops the server responding to clients");
    EXPECT_EQ(tip(ID_STOP_SERVING), "Switch Off");
    EXPECT_EQ(prompt(ID_START_SERVING), "Starts the server serving clients");
    EXPECT_EQ(tip(ID_START_SERVING), "Switch On");
    EXPECT_EQ(prompt(ID_SETUP), "Setup server parameters");
    EXPECT_EQ(prompt(ID_CLEAR_DISPLAY), "Clear client list");
    EXPECT_EQ(tip(ID_CLEAR_DISPLAY), "Clear list");
    EXPECT_EQ(prompt(ID_USE_GRAPHIC), "Use graphics for Send progress");
    EXPECT_EQ(prompt(ID_SERVER_INFO), "Local Server Information");
    EXPECT_EQ(prompt(ID_CHECK_VERSION), "Check the internet for the latest version");
    EXPECT_EQ(prompt(ID_APP_EXIT), "Quit the Server");
    EXPECT_EQ(tip(ID_APP_EXIT), "Exit");

    // The toolbar, left to right.
    QList<int> toolbar;
    for (QAction* a : frame->ToolBar()->actions()) toolbar << (a->isSeparator() ? 0 : a->data().toInt());
    EXPECT_EQ(toolbar, (QList<int>{ID_APP_ABOUT, ID_CONTEXT_HELP, 0, ID_STOP_SERVING, 0, ID_START_SERVING, 0,
                                   ID_CLEAR_DISPLAY}));
    EXPECT_EQ(frame->IdleStatus()->text(), "For Help, press F1");

    // The accelerator table.
    QStringList keys;
    for (QShortcut* s : frame->findChildren<QShortcut*>()) keys << s->key().toString();
    keys.sort();
    EXPECT_EQ(keys, (QStringList{"Ctrl+A", "Ctrl+G", "Ctrl+S", "Ctrl+U", "F1", "Shift+F1"}));

    // Commands reach their handlers: the application's, the view's, the frame's.
    frame->ExecuteCommand(ID_STOP_SERVING);
    frame->ExecuteCommand(ID_SETUP);
    frame->ExecuteCommand(ID_SERVER_INFO);
    frame->ExecuteCommand(ID_APP_ABOUT);
    EXPECT_EQ(app.commands, (std::vector<int>{ID_STOP_SERVING, ID_SETUP, ID_SERVER_INFO, ID_APP_ABOUT}));
    frame->ExecuteCommand(ID_VIEW_TOOLBAR);
    EXPECT_FALSE(frame->ToolBar()->isVisible());
    EXPECT_FALSE(frame->Action(ID_VIEW_TOOLBAR)->isChecked());
    frame->ExecuteCommand(ID_VIEW_TOOLBAR);
    EXPECT_TRUE(frame->ToolBar()->isVisible());
    frame->ExecuteCommand(ID_USE_GRAPHIC);
    EXPECT_TRUE(frame->Action(ID_USE_GRAPHIC)->isChecked());
    frame->ExecuteCommand(ID_CHECK_VERSION);
    EXPECT_EQ(host.prompts.MessageTexts(),
              std::vector<std::string>{"Version checking is currently unavailble\nPlease try later"});
}

TEST_F(ViewTest, F1OpensTheHelpPageAndShiftF1EntersContextHelp) {
    Open();
    QApplication::setActiveWindow(frame.get());
    frame->activateWindow();
    QTest::keyClick(frame.get(), Qt::Key_F1);
    ASSERT_TRUE(tests::RunUntil([&] { return frame->HelpWindow() && frame->HelpWindow()->isVisible(); }, 5000));
    EXPECT_TRUE(frame->HelpWindow()->Browser()->toPlainText().contains("The transfer list"));
    QTest::keyClick(frame.get(), Qt::Key_F1, Qt::ShiftModifier);
    EXPECT_TRUE(QWhatsThis::inWhatsThisMode());
    QWhatsThis::leaveWhatsThisMode();
    EXPECT_FALSE(View()->whatsThis().isEmpty());
}

TEST_F(ViewTest, TheSplashGoesAtTheFirstKeyWhichIsUsedUp) {
    Open();
    QApplication::setActiveWindow(frame.get());
    CStartupSplash::EnableSplash(false);
    CStartupSplash::ShowSplash(frame.get());
    EXPECT_EQ(CStartupSplash::Current(), nullptr);

    CStartupSplash::EnableSplash(true);
    CStartupSplash::ShowSplash(frame.get());
    QPointer<CStartupSplash> splash = CStartupSplash::Current();
    ASSERT_TRUE(splash);
    EXPECT_TRUE(splash->isVisible());
    EXPECT_EQ(splash->size(), CStartupSplash::Picture().size());
    EXPECT_EQ(splash->geometry().center(), frame->frameGeometry().center());
    CStartupSplash::ShowSplash(frame.get());
    EXPECT_EQ(CStartupSplash::Current(), splash.data()) << "one splash at a time";

    // Ctrl+S would stop serving; while the splash shows it only hides it.
    QTest::keyClick(frame.get(), Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(CStartupSplash::Current(), nullptr);
    EXPECT_TRUE(app.commands.empty());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(splash);
    // Without the splash the key acts.
    ASSERT_TRUE(tests::RunUntil([&] { return QApplication::activeWindow() == frame.get(); }, 5000));
    QTest::keyClick(frame.get(), Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(app.commands, std::vector<int>{ID_STOP_SERVING});

    // A click goes the same way.
    CStartupSplash::ShowSplash(frame.get());
    ASSERT_NE(CStartupSplash::Current(), nullptr);
    QTest::mouseClick(View()->viewport(), Qt::LeftButton);
    EXPECT_EQ(CStartupSplash::Current(), nullptr);
    CStartupSplash::EnableSplash(false);
}

TEST(TransferRowDelegate, APathGivesUpItsFolderBeforeItsFileName) {
    const QFont font;
    const QFontMetrics m(font);
    const QString path = QStringLiteral("/srv/tftp/images/debian/netboot/initrd.gz");
    EXPECT_EQ(TransferRowDelegate::Elide(m, path, m.horizontalAdvance(path), true), path) << "fits";
    const int width = m.horizontalAdvance(QStringLiteral("/srv/tftp/im\u2026/initrd.gz"));
    const QString shown = TransferRowDelegate::Elide(m, path, width, true);
    EXPECT_TRUE(shown.endsWith(QStringLiteral("/initrd.gz"))) << shown.toStdString();
    EXPECT_TRUE(shown.startsWith(QStringLiteral("/srv"))) << shown.toStdString();
    EXPECT_LE(m.horizontalAdvance(shown), width);
    // Too narrow even for the file name: it starts with the ellipsis.
    const QString narrow = TransferRowDelegate::Elide(m, path, m.horizontalAdvance(QStringLiteral("/initrd")), true);
    EXPECT_TRUE(narrow.startsWith(QStringLiteral("\u2026"))) << narrow.toStdString();
    // Other texts lose their end.
    const QString result = QStringLiteral("Inconclusive system error : Receiving");
    EXPECT_TRUE(TransferRowDelegate::Elide(m, result, m.horizontalAdvance(result) / 2, false)
                    .startsWith(QStringLiteral("Inconclusive")));
}

namespace {

// WCAG's contrast ratio of two colours (1 to 21).
double Contrast(const QColor& a, const QColor& b) {
    const auto luminance = [](const QColor& c) {
        const auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
    };
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QPalette DarkPalette() {
    QPalette p;
    p.setColor(QPalette::Window, QColor(53, 53, 53));
    p.setColor(QPalette::WindowText, Qt::white);
    p.setColor(QPalette::Base, QColor(35, 35, 35));
    p.setColor(QPalette::Text, QColor(230, 230, 230));
    return p;
}

}  // namespace

TEST_F(ViewTest, RowColoursFollowThePaletteAndStayReadableOnLightAndDark) {
    Open();
    Started(1, "10.0.0.1");  // blue: running
    Started(2, "10.0.0.2");
    Finished(2, "Finished : Sending");  // black: ended
    Started(3, "10.0.0.3");
    Finished(3, "TimedOut : Sending", 1);  // red: timed out
    const std::int32_t values[] = {kItemFailed, 1, kItemEnded, kItemAbandoned};

    // Light: the list's usual grey cells and its blue, black, red and yellow.
    const QPalette light = frame->palette();
    ASSERT_FALSE(TransferRowDelegate::IsDark(light));
    EXPECT_EQ(TransferRowDelegate::CellColour(light), TransferRowDelegate::kCellGrey);
    EXPECT_EQ(TransferRowDelegate::TextColour(1, light), QColor(0, 0, 255));
    EXPECT_EQ(TransferRowDelegate::TextColour(kItemEnded, light), QColor(0, 0, 0));
    EXPECT_EQ(TransferRowDelegate::TextColour(kItemFailed, light), QColor(255, 0, 0));
    EXPECT_EQ(View()->palette().color(QPalette::Base), TransferRowDelegate::kCellGrey);

    // Dark: the cells take the palette's base, and the list's empty part too.
    frame->setPalette(DarkPalette());
    const QPalette dark = frame->palette();
    ASSERT_TRUE(TransferRowDelegate::IsDark(dark));
    const QColor cells = TransferRowDelegate::CellColour(dark);
    EXPECT_EQ(cells, QColor(35, 35, 35));
    EXPECT_EQ(View()->palette().color(QPalette::Base), cells);
    EXPECT_EQ(TransferRowDelegate::TextColour(kItemEnded, dark), QColor(230, 230, 230));
    for (const std::int32_t value : values) {
        SCOPED_TRACE(value);
        // At least 3:1 against their cells on the dark palette; on the light
        // one the usual colours stay (blue and black well above it).
        EXPECT_GE(Contrast(TransferRowDelegate::TextColour(value, dark), cells), 3.0);
        if (value == 1 || value == kItemEnded) {
            EXPECT_GE(Contrast(TransferRowDelegate::TextColour(value, light), TransferRowDelegate::kCellGrey), 3.0);
        }
    }

    // Painted: a running row's cell is the dark base with light blue text.
    QImage image(120, 24, QImage::Format_RGB32);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        QStyleOptionViewItem option;
        option.rect = QRect(0, 0, 120, 24);
        option.widget = View();
        QFont font = View()->font();
        font.setStyleStrategy(QFont::NoAntialias);
        option.font = font;
        option.fontMetrics = QFontMetrics(font);
        int running = -1;
        for (int row = 0; row < Rows(); ++row)
            if (Cell(row, kColumnClient) == "10.0.0.1") running = row;
        ASSERT_GE(running, 0);
        View()->Delegate().paint(&painter, option, Model().index(running, kColumnClient));
    }
    EXPECT_GT(CountColour(image, cells), 120 * 24 / 2);
    EXPECT_GT(CountColour(image, TransferRowDelegate::TextColour(1, dark)), 0);
    EXPECT_EQ(CountColour(image, TransferRowDelegate::kCellGrey), 0);

    // And back: a light palette brings the grey again.
    frame->setPalette(light);
    EXPECT_EQ(View()->palette().color(QPalette::Base), TransferRowDelegate::kCellGrey);
}
