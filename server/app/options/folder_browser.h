// "Folder Browser": walks the folder tree from a starting path by
// double-clicking sub-folders and "[..]", or jumps to a mounted file system
// chosen from the drive list; OK hands back the walked folder, ending "/".
#pragma once

#include <QDialog>

#include <functional>
#include <string>
#include <vector>

class QComboBox;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPushButton;

class CFolderBrowser : public QDialog {
    Q_OBJECT
public:
    static constexpr int IDD = 150;
    static constexpr int IDC_FOLDERS = 1034;
    static constexpr int IDC_DRIVES = 1054;
    static constexpr int IDC_PATH = 1006;
    static constexpr int IDOK_BUTTON = 1;
    static constexpr int IDCANCEL_BUTTON = 2;
    static constexpr char kUpEntry[] = "[..]";

    using DriveLister = std::function<std::vector<std::string>()>;

    // path: the caller's folder text; a file name at its end is dropped.
    explicit CFolderBrowser(const std::string& path, QWidget* parent = nullptr,
                            const DriveLister& drives = DefaultDrives());

    // The walked folder: "" (the current directory) or ending with "/".
    const std::string& Path() const { return path_; }

    // OK is refused while the path is longer than this (0: no limit), so a
    // caller that stores the path never has to cut it.
    void SetMaxPathLength(std::size_t length);

    static DriveLister DefaultDrives();

private:
    void FillList();
    void OnFolderDoubleClicked(QListWidgetItem* item);
    void OnDriveChosen(int index);
    void UpdateOkButton();

    std::string path_;
    std::size_t maxPathLength_ = 0;
    QLineEdit* pathEdit_ = nullptr;
    QListWidget* folders_ = nullptr;
    QComboBox* drives_ = nullptr;
    QPushButton* ok_ = nullptr;
};
