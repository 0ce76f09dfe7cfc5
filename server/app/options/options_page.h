// One page of the server's options sheet. A page keeps its own copies of the
// settings it edits and moves them to and from its controls; its controls
// are filled the first time it is shown, and only a page that has been shown
// writes its copies back when the sheet is accepted.
#pragma once

#include <QString>
#include <QWidget>

class QAbstractButton;
class QLineEdit;

class COptionsPage : public QWidget {
    Q_OBJECT
public:
    COptionsPage(int dialogId, const QString& caption);

    int DialogId() const { return dialogId_; }
    // The tab caption; "&&" shows as one "&".
    const QString& Caption() const { return caption_; }

    // Shown at least once: the page takes part in OK and Apply.
    bool IsCreated() const { return created_; }
    bool IsModified() const { return modified_; }
    void SetModified(bool modified = true);

    // The sheet's calls: the page becomes the current one (the first time,
    // its controls are filled), stops being the current one (controls to
    // copies), and is accepted by OK or Apply (copies to the settings).
    void SetActive();
    void KillActive();
    void Accept();

signals:
    void ModifiedChanged();

protected:
    // Fills the controls when the page is first shown.
    virtual void OnInitDialog() { UpdateData(false); }
    virtual void OnSetActive() {}
    virtual void OnKillActive() { UpdateData(true); }
    // Writes the page's copies into the settings.
    virtual void OnOK() = 0;
    // save: controls to copies; otherwise copies to controls.
    virtual void DoDataExchange(bool save) = 0;

    void UpdateData(bool save) { DoDataExchange(save); }

    // A user's edit or click marks the page modified.
    void WatchEdit(QLineEdit* edit);
    void WatchButton(QAbstractButton* button);

private:
    const int dialogId_;
    const QString caption_;
    bool created_ = false;
    bool modified_ = false;
};
