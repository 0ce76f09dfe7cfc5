// The rows of the transfer list as a table model. Rows are added at the
// bottom and leave from the top. Changes to existing rows (progress arrives
// with every block of every transfer) are collected and announced to the
// view at most ten times a second, so a busy server does not repaint per
// block.
#pragma once

#include "server/app/transfer_rows.h"

#include <QAbstractTableModel>
#include <QBasicTimer>

#include <deque>

class TransferListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Role { kItemValueRole = Qt::UserRole + 1, kGraphicValueRole };
    static constexpr int kChangeDelayMs = 100;

    explicit TransferListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    int Count() const { return static_cast<int>(rows_.size()); }
    const TransferRow& Row(int row) const { return rows_[static_cast<std::size_t>(row)]; }
    // For a change to row: call Changed(row) afterwards.
    TransferRow& EditRow(int row) { return rows_[static_cast<std::size_t>(row)]; }
    void Changed(int row);
    // Announces collected changes now.
    void FlushChanges();

    void Append(TransferRow row);
    void RemoveFirst();

    // The text of one cell as shown.
    static std::string CellText(const TransferRow& row, int column);

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    std::deque<TransferRow> rows_;
    int changedFirst_ = -1;
    int changedLast_ = -1;
    QBasicTimer changeTimer_;
};
