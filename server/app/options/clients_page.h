// The "Client Limits" page: two track bars, the number of clients served at
// once and the number of rows kept in the display.
#pragma once

#include "options_page.h"

struct ServerSettings;
class QSlider;

class CClientsPage : public COptionsPage {
    Q_OBJECT
public:
    static constexpr int IDD = 140;
    static constexpr int IDC_MAX_CLIENTS = 1038;
    static constexpr int IDC_MAX_DISPLAY = 1039;
    static constexpr int kMaxClientsTop = 5;  // 1, 5, 10, 15, 30, no limit
    static constexpr int kMaxDisplayTop = 6;  // 5, 10, 20, 30, 40, 50, 100 rows
    // A stored position outside the range is shown (and then stored) here.
    static constexpr int kMaxClientsFallback = 1;
    static constexpr int kMaxDisplayFallback = 6;
    static constexpr char kClientsScale[] =
        "1            5            10           15            30             ~";
    static constexpr char kDisplayScale[] =
        "5         10        20         30         40        50        100";

    explicit CClientsPage(ServerSettings& settings);

protected:
    void OnInitDialog() override;
    void OnSetActive() override;
    void OnKillActive() override;
    void DoDataExchange(bool) override {}
    void OnOK() override;

private:
    // A track bar moved since last seen: the page is modified.
    void CheckTrackBars();
    void RememberPositions();

    ServerSettings& settings_;
    QSlider* maxClients_ = nullptr;
    QSlider* maxDisplay_ = nullptr;
    int clientsSeen_ = 0;
    int displaySeen_ = 0;
};
