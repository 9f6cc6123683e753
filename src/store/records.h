#pragma once

#include "store/record_file.h"

#include <QByteArray>
#include <QString>

// The two record layouts the program stores, byte for byte as on Windows:
// CP932 text fields padded with spaces, CR LF, and a little-endian 16-bit
// flag. A record object always holds exactly one record's bytes, so every
// field read stays inside it.
namespace lumora {

struct FieldSpan {
    qsizetype offset;
    qsizetype width;
};

// A received or held mail: 32284 bytes.
class MailRecord {
public:
    static constexpr qsizetype kLength = 32284;
    static constexpr FieldSpan kSubject{0, 100};
    static constexpr FieldSpan kDate{100, 90};
    static constexpr FieldSpan kFrom{190, 90};
    static constexpr FieldSpan kBody{280, 32000};
    static constexpr FieldSpan kLineEnd{32280, 2};
    static constexpr qsizetype kLiveOffset = 32282;
    static constexpr RecordLayout kLayout{kLength, kLiveOffset};

    // A new record: every text field spaces, LineEnd CR LF, Live 1.
    MailRecord();
    // The record for bytes read from a file; bytes of the wrong length are
    // cut or padded with spaces to one record.
    static MailRecord fromBytes(const QByteArray& bytes);
    // A received mail as it is stored: each text trimmed of surrounding
    // spaces and cut to its field.
    static MailRecord received(const QString& subject, const QString& from, const QString& date,
                               const QString& body);

    const QByteArray& bytes() const { return bytes_; }

    // A field's whole text, decoded from CP932, padding included; callers cut
    // at NUL or trim as their window asks.
    QString text(FieldSpan field) const;
    void setText(FieldSpan field, const QString& value);
    // The same, with characters CP932 lacks in their readable form
    // (text::readableCp932).
    void setReadableText(FieldSpan field, const QString& value);
    qint16 live() const { return readInt16(bytes_, kLiveOffset); }
    void setLive(qint16 value) { writeInt16(bytes_, kLiveOffset, value); }

    QString subject() const { return text(kSubject); }
    QString date() const { return text(kDate); }
    QString from() const { return text(kFrom); }
    QString body() const { return text(kBody); }

private:
    QByteArray bytes_;
};

// An address-book entry: 184 bytes.
class AddressRecord {
public:
    static constexpr qsizetype kLength = 184;
    static constexpr FieldSpan kName{0, 90};
    static constexpr FieldSpan kCrlf{90, 2};
    static constexpr qsizetype kInUseOffset = 92;
    static constexpr FieldSpan kAddress{94, 90};
    static constexpr RecordLayout kLayout{kLength, kInUseOffset};

    AddressRecord();
    static AddressRecord fromBytes(const QByteArray& bytes);
    // An entry as typed: neither text is trimmed.
    static AddressRecord entry(const QString& name, const QString& address);

    const QByteArray& bytes() const { return bytes_; }
    QString text(FieldSpan field) const;
    void setText(FieldSpan field, const QString& value);
    qint16 inUse() const { return readInt16(bytes_, kInUseOffset); }
    void setInUse(qint16 value) { writeInt16(bytes_, kInUseOffset, value); }

    QString name() const { return text(kName); }
    QString address() const { return text(kAddress); }

private:
    QByteArray bytes_;
};

// The received-mail, held-mail and address-book files.
inline RecordFile mailFile(const QString& path)
{
    return RecordFile(path, MailRecord::kLayout);
}
inline RecordFile addressFile(const QString& path)
{
    return RecordFile(path, AddressRecord::kLayout);
}

// Appends a received mail to the received-mail file at round(length / 32284 + 1).
// When stored is given it gets the record as written.
Result<qint64> storeReceivedMail(const RecordFile& file, const QString& subject,
                                 const QString& from, const QString& date, const QString& body,
                                 Flush flush = Flush::Now, MailRecord* stored = nullptr);

} // namespace lumora
