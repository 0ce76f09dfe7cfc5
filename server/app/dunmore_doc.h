// The server's document: it holds no data. Renewing it gives the main window
// its caption (the listening address and port); closing it logs and clears
// the transfer list.
#pragma once

#include <QString>

#include <functional>
#include <string>

class CNewView;

class CDunmoreDoc {
public:
    // listenLabel: the running listener's "<address>.<port>".
    explicit CDunmoreDoc(const std::string& listenLabel) : listenLabel_(listenLabel) {}

    void SetView(CNewView* view) { view_ = view; }
    // Called with the new title whenever it changes.
    void OnTitleChanged(std::function<void(const QString&)> handler) { titleChanged_ = std::move(handler); }

    // A new (or renewed) document: the title becomes the listen label.
    bool OnNewDocument();
    // The main window closes: the view logs and deletes its rows.
    void OnCloseDocument();

    const QString& Title() const { return title_; }

private:
    const std::string& listenLabel_;
    CNewView* view_ = nullptr;
    QString title_;
    std::function<void(const QString&)> titleChanged_;
};
