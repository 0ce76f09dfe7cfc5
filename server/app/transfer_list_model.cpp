#include "transfer_list_model.h"

#include <QTimerEvent>

#include <algorithm>

namespace {

constexpr const char* kHeaders[kColumnCount] = {"Client", "File", "Status",
                                                "Start",  "Finish", "Result"};

}  // namespace

TransferListModel::TransferListModel(QObject* parent) : QAbstractTableModel(parent) {}

int TransferListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : Count();
}

int TransferListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

std::string TransferListModel::CellText(const TransferRow& row, int column) {
    switch (column) {
    case kColumnClient: return row.client;
    case kColumnFile: return row.file;
    case kColumnStatus: return row.StatusText();
    case kColumnStart: return FormatRowTime(row.start);
    case kColumnFinish: return FormatRowTime(row.finish);
    case kColumnResult: return row.result;
    default: return {};
    }
}

QVariant TransferListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= Count() || index.column() >= kColumnCount) return {};
    const TransferRow& row = Row(index.row());
    switch (role) {
    case Qt::DisplayRole: return QString::fromStdString(CellText(row, index.column()));
    case Qt::ToolTipRole:
        // A long path is shortened in its cell; the tooltip shows it whole.
        if (index.column() == kColumnFile && !row.file.empty()) return QString::fromStdString(row.file);
        return {};
    case kItemValueRole: return row.itemValue;
    case kGraphicValueRole: return row.GraphicValue();
    default: return {};
    }
}

QVariant TransferListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= kColumnCount) return {};
    if (role == Qt::DisplayRole) return tr(kHeaders[section]);
    if (role == Qt::TextAlignmentRole) return int(Qt::AlignLeft | Qt::AlignVCenter);
    return {};
}

void TransferListModel::Changed(int row) {
    if (row < 0 || row >= Count()) return;
    if (changedFirst_ < 0 || row < changedFirst_) changedFirst_ = row;
    if (row > changedLast_) changedLast_ = row;
    if (!changeTimer_.isActive()) changeTimer_.start(kChangeDelayMs, this);
}

void TransferListModel::FlushChanges() {
    changeTimer_.stop();
    if (changedFirst_ < 0) return;
    const int first = changedFirst_;
    const int last = std::min(changedLast_, Count() - 1);
    changedFirst_ = changedLast_ = -1;
    if (first <= last) emit dataChanged(index(first, 0), index(last, kColumnCount - 1));
}

void TransferListModel::timerEvent(QTimerEvent* event) {
    if (event->timerId() == changeTimer_.timerId()) FlushChanges();
    else QAbstractTableModel::timerEvent(event);
}

void TransferListModel::Append(TransferRow row) {
    const int at = Count();
    beginInsertRows({}, at, at);
    rows_.push_back(std::move(row));
    endInsertRows();
}

void TransferListModel::RemoveFirst() {
    if (rows_.empty()) return;
    // Pending changes name rows by position: move them up with the rows.
    if (changedFirst_ >= 0) {
        changedFirst_ = std::max(0, changedFirst_ - 1);
        if (--changedLast_ < 0) changedFirst_ = changedLast_ = -1;
    }
    beginRemoveRows({}, 0, 0);
    rows_.pop_front();
    endRemoveRows();
}
