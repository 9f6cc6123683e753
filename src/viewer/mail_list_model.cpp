#include "viewer/mail_list_model.h"

#include "store/text_codec.h"

#include <QFile>

#include <optional>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace lumora {
namespace {

constexpr qsizetype kHeaderBytes = MailRecord::kBody.offset; // Subject, Date, From
constexpr int kCachedRows = 4096;

QString cell(const QByteArray& header, FieldSpan field)
{
    if (field.offset + field.width > header.size()) {
        return {};
    }
    return text::CutAtNul(
        text::decodeCp932(QByteArrayView(header).sliced(field.offset, field.width)));
}

// One record's header fields, read at its place in the open file.
std::optional<QByteArray> readHeader(int fd, int record)
{
    QByteArray header(kHeaderBytes, Qt::Uninitialized);
    const ssize_t n = ::pread(fd, header.data(), static_cast<size_t>(kHeaderBytes),
                              static_cast<off_t>(record) * MailRecord::kLength);
    if (n != kHeaderBytes) {
        return std::nullopt;
    }
    return header;
}

} // namespace

MailListModel::MailListModel(QString path, QObject* parent)
    : QAbstractTableModel(parent), file_(std::move(path), MailRecord::kLayout), cache_(kCachedRows)
{
}

void MailListModel::reload(QList<int> order)
{
    beginResetModel();
    cache_.clear();
    filter_.reset();
    count_ = static_cast<int>(std::min<qint64>(file_.wholeCount(), INT_MAX));
    takeOrder(std::move(order));
    mapRows();
    endResetModel();
}

void MailListModel::setOrder(QList<int> records)
{
    beginResetModel();
    takeOrder(std::move(records));
    mapRows();
    endResetModel();
}

void MailListModel::takeOrder(QList<int> records)
{
    order_ = std::move(records);
    // An order made for another length of the file lists what it can.
    order_.removeIf([this](int r) { return r < 0 || r >= count_; });
    if (!order_.isEmpty()) {
        for (int r = static_cast<int>(order_.size()); r < count_; ++r) {
            order_.append(r);
        }
    }
}

void MailListModel::setFilter(const std::optional<QList<int>>& records)
{
    beginResetModel();
    filter_.reset();
    if (records) {
        filter_.emplace(static_cast<size_t>(count_), false);
        for (const int record : *records) {
            if (record >= 0 && record < count_) {
                (*filter_)[static_cast<size_t>(record)] = true;
            }
        }
    }
    mapRows();
    endResetModel();
}

void MailListModel::mapRows()
{
    rows_.clear();
    if (!filter_) {
        rows_ = order_;
        return;
    }
    for (int row = 0; row < count_; ++row) {
        const int record = order_.isEmpty() ? row : order_[row];
        if (record >= 0 && static_cast<size_t>(record) < filter_->size() &&
            (*filter_)[static_cast<size_t>(record)]) {
            rows_.append(record);
        }
    }
}

int MailListModel::recordAt(int row) const
{
    if (!filter_ && order_.isEmpty()) {
        return row;
    }
    return row >= 0 && row < rows_.size() ? rows_[row] : -1;
}

int MailListModel::rowOf(int record) const
{
    if (!filter_ && order_.isEmpty()) {
        return record >= 0 && record < count_ ? record : -1;
    }
    return static_cast<int>(rows_.indexOf(record));
}

Result<QList<viewer::ListedMail>> MailListModel::listedMails(const QString& path)
{
    const qint64 count = RecordFile(path, MailRecord::kLayout).wholeCount();
    QList<viewer::ListedMail> mails;
    if (count == 0) {
        return mails;
    }
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return Status(StoreError::OpenFailed, path);
    }
    mails.reserve(count);
    for (int r = 0; r < count; ++r) {
        const std::optional<QByteArray> header = readHeader(fd, r);
        if (!header) {
            break; // the file was cut meanwhile: what was read is listed
        }
        mails.append({cell(*header, MailRecord::kSubject), cell(*header, MailRecord::kFrom),
                      cell(*header, MailRecord::kDate)});
    }
    ::close(fd);
    return mails;
}

void MailListModel::refreshCount()
{
    const int now = static_cast<int>(std::min<qint64>(file_.wholeCount(), INT_MAX));
    if (now > count_) {
        if (filter_) {
            count_ = now; // a filtered list shows new mail when it is asked again
            if (!order_.isEmpty()) {
                for (int r = static_cast<int>(order_.size()); r < now; ++r) {
                    order_.append(r);
                }
            }
            return;
        }
        beginInsertRows({}, count_, now - 1);
        if (!order_.isEmpty()) {
            for (int r = count_; r < now; ++r) {
                order_.append(r);
                rows_.append(r);
            }
        }
        count_ = now;
        endInsertRows();
    } else if (now < count_) {
        reload(); // the file was rewritten behind the list
    }
}

Result<MailRecord> MailListModel::record(int row) const
{
    Result<QByteArray> bytes = file_.read(recordAt(row) + 1);
    if (!bytes.ok()) {
        return bytes.status();
    }
    return MailRecord::fromBytes(bytes.value());
}

const MailListModel::Row* MailListModel::row(int index) const
{
    const int record = recordAt(index);
    if (record < 0) {
        return nullptr;
    }
    if (const Row* cached = cache_.object(record)) {
        return cached;
    }
    if (frozen_) {
        return nullptr;
    }
    const int fd = ::open(QFile::encodeName(file_.path()).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return nullptr;
    }
    const std::optional<QByteArray> header = readHeader(fd, record);
    ::close(fd);
    ++headerReads_;
    if (!header) {
        return nullptr;
    }
    auto* fresh = new Row;
    fresh->cells[0] = cell(*header, MailRecord::kSubject);
    fresh->cells[1] = cell(*header, MailRecord::kFrom);
    fresh->cells[2] = cell(*header, MailRecord::kDate);
    cache_.insert(record, fresh);
    return fresh;
}

int MailListModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid()) {
        return 0;
    }
    return filter_ ? static_cast<int>(rows_.size()) : count_;
}

int MailListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : 3;
}

QVariant MailListModel::data(const QModelIndex& index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rowCount() ||
        index.column() > 2) {
        return {};
    }
    const Row* r = row(index.row());
    return r ? r->cells[index.column()] : QString();
}

QVariant MailListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
        return {};
    }
    switch (section) {
    case 0:
        return QStringLiteral("Subject");
    case 1:
        return QStringLiteral("From");
    case 2:
        return QStringLiteral("Date");
    default:
        return {};
    }
}

} // namespace lumora
