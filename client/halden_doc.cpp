#include "halden_doc.h"

#include "client/halden_view.h"

CHaldenDoc::CHaldenDoc(std::function<void()> titleChanged)
    : titleChanged_(std::move(titleChanged)) {}

bool CHaldenDoc::OnNewDocument() {
    SetTitle({});  // no "Untitled": the caption reads " - Halden" until a transfer binds
    return true;
}

bool CHaldenDoc::OnOpenDocument(const std::string& path) {
    if (view_) view_->SendDroppedFile(path);
    return false;
}

void CHaldenDoc::SetTitle(const std::string& title) {
    title_ = title;
    if (titleChanged_) titleChanged_();
}
