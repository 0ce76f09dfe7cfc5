// The two modeless "Executive decision time ..." dialogs: shown when the port
// changes or serving stops while transfers are running. "Drop Clients" ends
// the transfers now; "Keep Clients" lets them finish.
#pragma once

#include <QDialog>

#include <functional>

class QPushButton;

class CDecisionDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr int IDOK_BUTTON = 1;      // "Drop Clients"
    static constexpr int IDCANCEL_BUTTON = 2;  // "Keep Clients"
    static constexpr char kTitle[] = "Executive decision time ...";

    // decide(true) for Drop Clients, decide(false) for Keep Clients (or a close).
    CDecisionDialog(int templateId, const QStringList& texts, std::function<void(bool)> decide,
                    QWidget* parent);

    int TemplateId() const { return templateId_; }
    QPushButton* DropButton() const { return drop_; }
    QPushButton* KeepButton() const { return keep_; }

    void accept() override;
    void reject() override;

private:
    int templateId_;
    std::function<void(bool)> decide_;
    QPushButton* drop_ = nullptr;
    QPushButton* keep_ = nullptr;
};

class CPortChangeDlg final : public CDecisionDialog {
    Q_OBJECT
public:
    static const QStringList& Texts();
    CPortChangeDlg(std::function<void(bool)> decide, QWidget* parent);
};

class CStopServingDlg final : public CDecisionDialog {
    Q_OBJECT
public:
    static const QStringList& Texts();
    CStopServingDlg(std::function<void(bool)> decide, QWidget* parent);
};
