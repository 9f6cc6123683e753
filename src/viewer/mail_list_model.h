#pragma once

#include "store/record_file.h"
#include "store/records.h"
#include "viewer/mail_order.h"

#include <QAbstractTableModel>
#include <QCache>
#include <QSet>

#include <optional>
#include <vector>

// The received-mail list: one row per whole record of the received-mail
// file, in record order, so row i (from 0) is record i + 1. Cells are the
// record's Subject, From and Date cut at their first NUL, padding kept.
//
// The model keeps no copy of the file. A row's header fields (the first 280
// bytes of its record) are read when the list first asks for the row, so a
// file of 32767 mails (a gigabyte) lists at once; a few thousand rows stay
// cached. While the file is being rewritten the model reads nothing and
// shows only what it has cached.
//
// The rows may be put in another order (a sorted list): row i then shows
// record order[i] + 1. Every record number the model gives out is the
// record's own, whatever the order.
namespace lumora {

class MailListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit MailListModel(QString path, QObject* parent = nullptr);

    // Lists the file anew, in record order or in the order given (as
    // setOrder() takes it).
    void reload(QList<int> order = {});
    // Shows rows for records appended since the last listing; the rows
    // already listed (and the selection) stay.
    void refreshCount();
    void setFrozen(bool frozen) { frozen_ = frozen; }

    qint64 recordCount() const { return count_; }
    // The whole record behind row (from 0).
    Result<MailRecord> record(int row) const;
    // The record (from 0) a row shows, and the row showing a record (-1
    // when none does).
    int recordAt(int row) const;
    int rowOf(int record) const;

    // Shows the records (from 0) in this order; an empty order is the
    // record order. Records appended later are listed after them.
    void setOrder(QList<int> records);
    bool ordered() const { return !order_.isEmpty(); }
    const QList<int>& order() const { return order_; }
    // Lists only these records (from 0), in the order; none: every record.
    void setFilter(const std::optional<QList<int>>& records);
    bool filtered() const { return filter_.has_value(); }
    // The list's cells of every whole record of the file, read in one pass
    // (for sorting; safe on any thread).
    static Result<QList<viewer::ListedMail>> listedMails(const QString& path);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // The number of record reads the model has made, for tests.
    qint64 headerReads() const { return headerReads_; }

private:
    struct Row {
        QString cells[3];
    };
    const Row* row(int index) const;

    RecordFile file_;
    int count_ = 0;
    bool frozen_ = false;
    // Builds rows_ from the order and the filter.
    void takeOrder(QList<int> records);
    void mapRows();

    QList<int> order_;
    // Which records the filter lets through, by record (from 0).
    std::optional<std::vector<bool>> filter_;
    // The record of each row when the list is ordered or filtered.
    QList<int> rows_;
    mutable QCache<int, Row> cache_;
    mutable qint64 headerReads_ = 0;
};

} // namespace lumora
