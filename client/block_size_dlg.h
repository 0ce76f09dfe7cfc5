// "Transmission block size error": told when the typed block size is out of
// range; the view then uses 512.
#pragma once

#include <QDialog>

class CBlockSizeDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr char kText[] =
        "Transmission blocks may be set to any value within the range of 64 to 65420 bytes, "
        "although settings above 12250 bytes may exceed the limit of your network and will "
        "cause the transfer to fail.\n\nFor this session the block size has defaulted to 512 "
        "bytes.";

    explicit CBlockSizeDlg(QWidget* parent = nullptr);
    int DoModal() { return exec(); }
};
