#include "new_view.h"

#include "platform/clock.h"
#include "platform/control_ids.h"
#include "platform/prompt_service.h"
#include "server/app/command_ids.h"
#include "server/app/new_client_alert.h"
#include "server/app/server_settings.h"
#include "server/app/transfer_row_delegate.h"

#include <QFileInfo>
#include <QHeaderView>
#include <QResizeEvent>

#include <algorithm>
#include <cstring>
#include <variant>

namespace {

constexpr char kProductName[] = "Vantrel";
constexpr char kReady[] = "Ready";

}  // namespace

int CNewView::RowLimit(int nMaxDisplay) {
    switch (nMaxDisplay) {
    case 0: return 5;
    case 1: return 10;
    case 2: return 20;
    case 3: return 30;
    case 4: return 40;
    case 5: return 50;
    default: return 100;
    }
}

CNewView::CNewView(DisplayHost& host, QWidget* parent)
    : QTableView(parent),
      host_(host),
      model_(new TransferListModel(this)),
      delegate_(new TransferRowDelegate([this] { return graphic_; }, this)),
      timer_(this) {
    setModel(model_);
    setAccessibleName("Transfers");
    setItemDelegate(delegate_);
    // A report list that reacts to no clicks: no selection, no editing, no
    // sorting, no context menu.
    setSelectionMode(QAbstractItemView::NoSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setFocusPolicy(Qt::NoFocus);
    setSortingEnabled(false);
    setContextMenuPolicy(Qt::NoContextMenu);
    setShowGrid(false);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    horizontalHeader()->setStretchLastSection(false);
    horizontalHeader()->setSectionsClickable(false);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    horizontalHeader()->setHighlightSections(false);
    // The area the rows do not cover is light grey too (on a dark palette,
    // the colour of the cells).
    FollowPalette();
    setWhatsThis(tr(
        "The transfer list: one row for every client the server has admitted, showing its "
        "address, file, progress, start and finish time and result. Blue rows are running, "
        "black rows finished, red rows timed out, yellow rows were abandoned."));
    connect(&placementCheck_, &QTimer::timeout, this, &CNewView::CheckPlacement);
    timer_.setTimerType(Qt::CoarseTimer);
    connect(&timer_, &QTimer::timeout, this, &CNewView::OnTimer);
}

CNewView::~CNewView() {
    // Not from inside the alert's own handling: it can go at once.
    delete alert_.data();
}

void CNewView::OnInitialUpdate() {
    ApplyWindowPlacement();
    if (!columnsPending_) return;
    columnsPending_ = false;
    for (int c = 0; c < kColumnCount; ++c) horizontalHeader()->resizeSection(c, kInitialWidths[c]);
    timer_.start(kTimerPeriodMs);
    if (timer_.isActive()) host_.ClearIdleCheck();
    // The first row says that the server is serving.
    AddRow(1, kProductName);
    if (const int row = FindRowByNumber(1); row >= 0) {
        ShowResult(model_->EditRow(row), kReady, true);
        model_->Changed(row);
    }
    graphic_ = host_.Settings().bUseGraphic != 0;
    FitLastColumn();
}

void CNewView::ApplyWindowPlacement() {
    WindowRect r;
    if (!host_.LoadWindowPlacement(r)) return;
    if (host_.Settings().bMinimiseAtStart != 0 || r.left >= 2900 || r.top >= 2900) return;
    QWidget* frame = window();
    if (frame == this) return;
    pendingPlacement_ = r;
    if (frame->isVisible()) {
        PlaceFrame();
    } else {
        // The window's frame is only known once it is shown: place it again then.
        PlaceFrame();
        frame->installEventFilter(this);
    }
}

void CNewView::PlaceFrame() {
    if (!pendingPlacement_) return;
    const WindowRect r = *pendingPlacement_;
    QWidget* frame = window();
    // The stored rectangle includes the window's frame; resize takes the inside.
    const QSize decoration = frame->frameGeometry().size() - frame->geometry().size();
    const int width = std::max(1, (r.right - r.left) - decoration.width());
    const int height = std::max(1, (r.bottom - r.top) - decoration.height());
    placedDecoration_ = decoration;
    frame->move(r.left, r.top);
    frame->resize(width, height);
    if (!frame->isVisible()) return;
    if (!decoration.isNull()) {
        // The frame is known: the rectangle is the one saved.
        pendingPlacement_.reset();
        placementCheck_.stop();
        return;
    }
    // Shown but not yet framed (or never to be, on a display without a
    // window manager): look again for a while, and size it again once the
    // frame appears, so that the window does not grow by its frame at
    // every start.
    if (!placementCheck_.isActive()) {
        placementChecksLeft_ = kPlacementChecks;
        placementCheck_.start(kPlacementCheckMs);
    }
}

void CNewView::CheckPlacement() {
    QWidget* frame = window();
    const QSize decoration = frame->frameGeometry().size() - frame->geometry().size();
    if (pendingPlacement_ && decoration != placedDecoration_) PlaceFrame();
    if (--placementChecksLeft_ <= 0 || !pendingPlacement_) {
        placementCheck_.stop();
        pendingPlacement_.reset();
    }
}

bool CNewView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == window() && event->type() == QEvent::Show && pendingPlacement_) {
        watched->removeEventFilter(this);
        PlaceFrame();
    }
    return QTableView::eventFilter(watched, event);
}

void CNewView::OnDestroy() {
    timer_.stop();
    DestroyAlert();
    const QWidget* frame = window();
    const QRect outer = frame->frameGeometry();
    WindowRect r;
    r.left = outer.x();
    r.top = outer.y();
    r.right = outer.x() + outer.width();
    r.bottom = outer.y() + outer.height();
    host_.SaveWindowPlacement(r);
}

int CNewView::FindRowByNumber(int number) const {
    for (int row = model_->Count() - 1; row >= 0; --row)
        if (model_->Row(row).itemValue == number) return row;
    return -1;
}

namespace {
// Which member each event of the engine is handled by.
template <class... Handlers>
struct Overloaded : Handlers... {
    using Handlers::operator()...;
};
template <class... Handlers>
Overloaded(Handlers...) -> Overloaded<Handlers...>;
}  // namespace

void CNewView::OnTransferEvent(const TransferEvent& event) {
    if (const auto* started = std::get_if<TransferStarted>(&event)) {
        AddRow(started->number, started->client);
        return;
    }
    const int row = FindRowByNumber(NumberOf(event));
    if (row < 0) return;
    TransferRow& r = model_->EditRow(row);
    std::visit(Overloaded{
                   [](const TransferStarted&) {},
                   [&](const TransferEnded& ended) {
                       r.timedOut = ended.timedOut;
                       RowEnded(row, 0);
                   },
                   // A rewritten name shows what was asked and what is served.
                   [&](const TransferFile& file) {
                       AssignVisible(r.file, file.requested.empty() ? file.path : file.requested + " -> " + file.path);
                   },
                   [&](const TransferProgress& progress) {
                       if (progress.total != 0) r.SetProgress(progress.bytes, progress.total);
                       else r.SetStatusText(progress.text);
                   },
                   // A timed-out transfer's row turns red, any other end's black.
                   [&](const TransferResult& result) { ShowResult(r, result.text, r.timedOut); },
               },
               event);
    model_->Changed(row);
}

void CNewView::ShowResult(TransferRow& r, const std::string& text, bool failed) {
    AssignVisible(r.result, text);
    r.itemValue = failed ? kItemFailed : kItemEnded;
}

void CNewView::RowEnded(int row, std::int32_t newValue) {
    TransferRow& r = model_->EditRow(row);
    r.SetStatusText("Terminated");
    r.finish = host_.WallClock().Now();
    if (newValue != 0) r.itemValue = newValue;
    model_->Changed(row);
}

void CNewView::AddRow(int number, const std::string& client) {
    const int count = model_->Count();
    const std::int64_t now = host_.WallClock().Now();
    const ServerSettings& settings = host_.Settings();
    const int limit = RowLimit(settings.nMaxDisplay);
    if (count >= limit) {
        bool logging = !settings.LogFile.empty();
        for (int i = 0; i < count - limit + 1; ++i) {
            if (logging) logging = LogTopRow(settings.LogFile);
            model_->RemoveFirst();
        }
    }
    // A running row: the next quiet tick marks it if its transfer is gone,
    // whatever an earlier quiet period did.
    rowsMarked_ = false;
    TransferRow row;
    AssignVisible(row.client, client);
    row.itemValue = number;
    row.start = now;
    model_->Append(std::move(row));

    QWidget* frame = window();
    if (frame != this && frame->isMinimized()) {
        if (settings.bAlertMinimised == 1) ShowAlert(model_->Row(model_->Count() - 1).client);
    } else {
        // A new client is shown at once; changes to rows wait for the next batch.
        const QRect added = visualRect(model_->index(model_->Count() - 1, 0));
        if (added.isValid() && added.intersects(viewport()->rect()))
            viewport()->repaint(QRect(0, added.y(), viewport()->width(), added.height()));
    }
}

bool CNewView::LogTopRow(const std::string& logFile) {
    int error = 0;
    if (AppendRowToLog(logFile, model_->Row(0), &error)) {
        if (!logProblemFile_.empty()) {
            logProblemFile_.clear();
            emit LogProblem(QString());
        }
        return true;
    }
    if (logProblemFile_ != logFile) {
        logProblemFile_ = logFile;
        const QString path = QFileInfo(QString::fromStdString(logFile)).absoluteFilePath();
        emit LogProblem(QStringLiteral("Cannot write the log file %1: %2")
                            .arg(path, QString::fromLocal8Bit(std::strerror(error))));
    }
    return false;
}

void CNewView::DeleteAllRows() {
    const int count = model_->Count();
    const std::string logFile = host_.Settings().LogFile;
    bool logging = !logFile.empty();
    for (int i = 0; i < count; ++i) {
        if (logging) logging = LogTopRow(logFile);
        model_->RemoveFirst();
    }
}

void CNewView::OnUseGraphic() {
    // No repaint: rows change their look when they are next drawn.
    graphic_ = !graphic_;
    host_.Settings().bUseGraphic = graphic_ ? 1 : 0;
}

void CNewView::OnCheckVersion() {
    host_.Prompts().MessageBox(vantrel::kCheckVersionUnavailable, platform::PromptIcon::Information,
                               platform::PromptButtons::Ok);
}

void CNewView::MarkRunningRowsAbandoned() {
    for (int row = model_->Count() - 1; row >= 0; --row) {
        const auto value = static_cast<std::uint32_t>(model_->Row(row).itemValue);
        if (value - 1u < 4999u) RowEnded(row, kItemAbandoned);
    }
}

void CNewView::OnTimer() {
    host_.SweepTransfers();
    if (host_.TransferCount() > 0) {
        rowsMarked_ = false;
        return;
    }
    if (alert_) {
        DestroyAlert();
        return;
    }
    if (!rowsMarked_) {
        rowsMarked_ = true;
        MarkRunningRowsAbandoned();
    }
}

void CNewView::OnActivateView() { DestroyAlert(); }

void CNewView::ShowAlert(const std::string& client) {
    if (!alert_) alert_ = new CNewClientAlert();
    alert_->ShowClient(QString::fromStdString(client));
}

void CNewView::DestroyAlert() {
    if (!alert_) return;
    CNewClientAlert* alert = alert_;
    alert_ = nullptr;
    alert->hide();
    alert->deleteLater();
}

void CNewView::FitLastColumn() {
    int used = 0;
    for (int c = 0; c < kColumnCount - 1; ++c) used += horizontalHeader()->sectionSize(c);
    const int rest = viewport()->width() - used;
    if (rest > 10) horizontalHeader()->resizeSection(kColumnCount - 1, rest);
}

void CNewView::FollowPalette() {
    const QColor cells = TransferRowDelegate::CellColour(window()->palette());
    if (palette().color(QPalette::Active, QPalette::Base) == cells) return;
    QPalette p = palette();
    p.setColor(QPalette::Base, cells);
    setPalette(p);
}

void CNewView::changeEvent(QEvent* event) {
    QTableView::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ParentChange) FollowPalette();
}

void CNewView::resizeEvent(QResizeEvent* event) {
    QTableView::resizeEvent(event);
    FitLastColumn();
}
