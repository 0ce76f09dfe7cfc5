// The Inbound and Outbound pages: the folders that write requests store into
// and read requests take from, each with a Browse button that opens the
// folder browser; the Outbound page also holds the forced file.
#pragma once

#include "options_page.h"

#include <string>

struct ServerSettings;
class QCheckBox;
class QLineEdit;
class QPushButton;
class QVBoxLayout;

// What the two folder pages share: the folder text, its edit and Browse.
class CFolderPage : public COptionsPage {
    Q_OBJECT
public:
    static constexpr int IDC_BROWSE = 1047;
    // The note under the edit that names the folder an empty text stands for.
    static constexpr int IDC_EMPTY_NOTE = 1048;

    std::string m_path;  // the page's copy of the folder text

protected:
    // emptyFolder: the folder an empty text stands for (it is named on the
    // page and created when the page stores it).
    CFolderPage(int dialogId, const QString& caption, const QString& groupText, int pathId,
                std::string emptyFolder, ServerSettings& settings);

    // The folder text as it is stored: with its trailing "/", the page's own
    // folder when empty.
    std::string NormalisedPath() const;
    void ExchangePath(bool save);

    ServerSettings& settings_;
    QVBoxLayout* pageLayout_ = nullptr;  // below the group box

private:
    void OnBrowse();

    QLineEdit* pathEdit_ = nullptr;
    QPushButton* browse_ = nullptr;
    std::string emptyFolder_;
};

class CInboundPage : public CFolderPage {
    Q_OBJECT
public:
    static constexpr int IDD = 103;
    static constexpr int IDC_PATH = 1000;

    static constexpr int IDC_REFUSE_UPLOADS = 1049;
    static constexpr int IDC_NO_REPLACE = 1050;

    explicit CInboundPage(ServerSettings& settings);
    void ReadSettings();

    int m_bRefuseUploads = 0;
    int m_bNoReplace = 0;

protected:
    void DoDataExchange(bool save) override;
    void OnOK() override;

private:
    QCheckBox* refuseUploads_ = nullptr;
    QCheckBox* noReplace_ = nullptr;
};

class COutboundPage : public CFolderPage {
    Q_OBJECT
public:
    static constexpr int IDD = 105;
    static constexpr int IDC_PATH = 1002;
    static constexpr int IDC_FORCE_FILE = 1003;
    static constexpr int IDC_FORCE = 1004;

    explicit COutboundPage(ServerSettings& settings);
    void ReadSettings();

    int m_bForce = 0;
    std::string m_ForceFile;

protected:
    void DoDataExchange(bool save) override;
    void OnOK() override;

private:
    QCheckBox* force_ = nullptr;
    QLineEdit* forceFile_ = nullptr;
};
