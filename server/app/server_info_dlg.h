// "Local Server Info": what the server listens on (the address the local
// address selection found, or every address and their list) and what the
// socket library allows.
#pragma once

#include <QDialog>

#include <string>
#include <vector>

class CServerInfoDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr int IDC_HOST_NAME = 1048;
    static constexpr int IDC_HOST_IP = 1049;
    static constexpr int IDC_ADAPTORS = 1050;
    static constexpr int IDC_MAX_UDP = 1051;
    static constexpr int IDC_MAX_SOCKETS = 1052;
    static constexpr int IDC_LISTEN_ADDRESSES = 1053;
    static constexpr char kTitle[] = "Local Server Info";

    struct Info {
        std::string hostName;
        std::string hostAddress;
        // On all addresses: what the listener is reached at (shown as a list).
        std::vector<std::string> listening;
        int adaptors = 0;
        int maxUdp = 0;
        int maxSockets = 0;
    };

    explicit CServerInfoDlg(const Info& info, QWidget* parent = nullptr);
};
