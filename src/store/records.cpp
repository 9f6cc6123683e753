#include "store/records.h"

#include "store/text_codec.h"

namespace lumora {
namespace {

QByteArray recordOfLength(const QByteArray& bytes, qsizetype length)
{
    QByteArray out = bytes.left(length);
    if (out.size() < length) {
        out.append(QByteArray(length - out.size(), ' '));
    }
    return out;
}

QString fieldText(const QByteArray& bytes, FieldSpan field)
{
    if (field.offset < 0 || field.width < 0 || field.offset + field.width > bytes.size()) {
        return {};
    }
    return text::decodeCp932(QByteArrayView(bytes).sliced(field.offset, field.width));
}

void setFieldText(QByteArray& bytes, FieldSpan field, const QString& value)
{
    if (field.offset < 0 || field.width < 0 || field.offset + field.width > bytes.size()) {
        return;
    }
    bytes.replace(field.offset, field.width, text::fixedFieldCp932(value, field.width));
}

void setCrlf(QByteArray& bytes, qsizetype offset)
{
    bytes[offset] = '\r';
    bytes[offset + 1] = '\n';
}

} // namespace

MailRecord::MailRecord() : bytes_(kLength, ' ')
{
    setCrlf(bytes_, kLineEnd.offset);
    setLive(1);
}

MailRecord MailRecord::fromBytes(const QByteArray& bytes)
{
    MailRecord record;
    record.bytes_ = recordOfLength(bytes, kLength);
    return record;
}

MailRecord MailRecord::received(const QString& subject, const QString& from, const QString& date,
                                const QString& body)
{
    MailRecord record;
    // A character the record cannot hold is stored in a form a reader can
    // still make out; the mail's original keeps the real one.
    record.setReadableText(kSubject, text::trimSpaces(subject));
    record.setReadableText(kFrom, text::trimSpaces(from));
    record.setReadableText(kDate, text::trimSpaces(date));
    record.setReadableText(kBody, text::trimSpaces(body));
    return record;
}

QString MailRecord::text(FieldSpan field) const
{
    return fieldText(bytes_, field);
}

void MailRecord::setText(FieldSpan field, const QString& value)
{
    setFieldText(bytes_, field, value);
}

void MailRecord::setReadableText(FieldSpan field, const QString& value)
{
    if (field.offset < 0 || field.width < 0 || field.offset + field.width > bytes_.size()) {
        return;
    }
    bytes_.replace(field.offset, field.width, text::fixedFieldReadableCp932(value, field.width));
}

AddressRecord::AddressRecord() : bytes_(kLength, ' ')
{
    setCrlf(bytes_, kCrlf.offset);
    setInUse(1);
}

AddressRecord AddressRecord::fromBytes(const QByteArray& bytes)
{
    AddressRecord record;
    record.bytes_ = recordOfLength(bytes, kLength);
    return record;
}

AddressRecord AddressRecord::entry(const QString& name, const QString& address)
{
    AddressRecord record;
    record.setText(kName, name);
    record.setText(kAddress, address);
    return record;
}

QString AddressRecord::text(FieldSpan field) const
{
    return fieldText(bytes_, field);
}

void AddressRecord::setText(FieldSpan field, const QString& value)
{
    setFieldText(bytes_, field, value);
}

Result<qint64> storeReceivedMail(const RecordFile& file, const QString& subject,
                                 const QString& from, const QString& date, const QString& body,
                                 Flush flush, MailRecord* stored)
{
    const MailRecord record = MailRecord::received(subject, from, date, body);
    if (stored) {
        *stored = record;
    }
    return file.append(record.bytes(), flush);
}

} // namespace lumora
