#include "dunmore_doc.h"

#include "server/app/new_view.h"

bool CDunmoreDoc::OnNewDocument() {
    title_ = QString::fromStdString(listenLabel_);
    if (titleChanged_) titleChanged_(title_);
    return true;
}

void CDunmoreDoc::OnCloseDocument() {
    if (view_) view_->DeleteAllRows();
}
