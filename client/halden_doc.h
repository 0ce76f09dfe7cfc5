// The client's document holds no data: its title (the local address of the
// last transfer) makes the window's caption, and opening a file means
// sending it.
#pragma once

#include <functional>
#include <string>

class CHaldenView;

class CHaldenDoc {
public:
    // titleChanged: the frame's caption follows the title.
    explicit CHaldenDoc(std::function<void()> titleChanged);

    bool OnNewDocument();
    // File > Send... and each file dropped on the window: hands the path to
    // the view's SendDroppedFile. Always false: no document is ever opened.
    bool OnOpenDocument(const std::string& path);

    void SetTitle(const std::string& title);
    const std::string& GetTitle() const { return title_; }
    void SetView(CHaldenView* view) { view_ = view; }

private:
    std::function<void()> titleChanged_;
    std::string title_;
    CHaldenView* view_ = nullptr;
};
