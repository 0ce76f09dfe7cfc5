// The server's transfer list: one row per admitted client, changed by the
// five transfer notifications, drawn by TransferRowDelegate. It also drives
// the listener's periodic check with a 5-second timer, logs the rows that
// leave it, shows the new-client alert while the window is minimised, and
// restores and saves the main window's rectangle.
#pragma once

#include "server/app/display_host.h"
#include "server/app/new_client_alert.h"
#include "server/app/transfer_list_model.h"
#include "server/engine/transfer_events.h"

#include <QPointer>
#include <QTableView>
#include <QTimer>

#include <optional>

class TransferRowDelegate;

class CNewView : public QTableView, public TransferView {
    Q_OBJECT
public:
    static constexpr int kTimerPeriodMs = 5000;
    static constexpr int kInitialWidths[kColumnCount] = {150, 120, 80, 90, 90, 110};
    // Rows kept for each position of the "Maximum Clients in display" slider.
    static int RowLimit(int nMaxDisplay);

    explicit CNewView(DisplayHost& host, QWidget* parent = nullptr);
    ~CNewView() override;

    // First display: runs at start and whenever the document is renewed.
    void OnInitialUpdate();

    // The engine's five events (WM_TRANSFER_ENDED ... WM_TRANSFER_RESULT).
    void OnTransferEvent(const TransferEvent& event) override;

    // Logs (when a log file is set) and deletes every row, oldest first.
    void DeleteAllRows();
    void OnClearDisplay() { DeleteAllRows(); }
    bool CanClearDisplay() const { return model_->Count() > 0; }
    void OnUseGraphic();
    bool GraphicFlag() const { return graphic_; }
    void OnCheckVersion();

    // The 5-second tick: the periodic check, then the quiet-tick work.
    void OnTimer();
    // The window is closing: the periodic check runs once more, so that
    // transfers that have ended are logged with their result.
    void CheckBeforeClosing() { host_.SweepTransfers(); }
    bool TimerRunning() const { return timer_.isActive(); }

    // The main window became active while not minimised: the alert goes.
    void OnActivateView();
    // The view is going away: the main window's rectangle is saved.
    void OnDestroy();

    // The last row (searching from the bottom) holding number, or -1.
    int FindRowByNumber(int number) const;
    void MarkRunningRowsAbandoned();

    TransferListModel& Model() const { return *model_; }
    TransferRowDelegate& Delegate() const { return *delegate_; }
    CNewClientAlert* Alert() const { return alert_; }

signals:
    // The log file cannot be written: text names it and says why. Sent once
    // until the file can be written again, then with an empty text.
    void LogProblem(const QString& text);

protected:
    void resizeEvent(QResizeEvent* event) override;
    // A new palette (a dark one, say): the area below the rows follows it.
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void AddRow(int number, const std::string& client);
    // Appends the top row to the log; false when it could not be written.
    bool LogTopRow(const std::string& logFile);
    void RowEnded(int row, std::int32_t newValue);
    // The result text, and the row's colour: red when failed.
    void ShowResult(TransferRow& row, const std::string& text, bool failed);
    void FitLastColumn();
    void ShowAlert(const std::string& client);
    void DestroyAlert();
    void ApplyWindowPlacement();
    void PlaceFrame();
    void CheckPlacement();
    void FollowPalette();
    static constexpr int kPlacementCheckMs = 50;
    static constexpr int kPlacementChecks = 60;  // three seconds

    DisplayHost& host_;
    TransferListModel* model_;
    TransferRowDelegate* delegate_;
    QTimer timer_;
    QPointer<CNewClientAlert> alert_;
    std::optional<WindowRect> pendingPlacement_;
    // A window manager frames the window some time after it is shown: until
    // then its frame is not known, and the saved (outer) rectangle is sized
    // again once it is. The decoration the last sizing took off, and the
    // checks left.
    QSize placedDecoration_;
    QTimer placementCheck_;
    int placementChecksLeft_ = 0;
    bool graphic_ = false;
    bool columnsPending_ = true;
    bool rowsMarked_ = false;
    std::string logProblemFile_;  // the log file last reported as unwritable
};
