#include "addressbook/address_exchange.h"

#include "mail/mail_text.h"
#include "store/text_codec.h"

#include <QSet>

namespace lumora::addresses {
namespace {

QByteArray unescapeVCard(const QByteArray& value)
{
    QByteArray out;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) {
            const char next = value[++i];
            out += (next == 'n' || next == 'N') ? '\n' : next;
        } else {
            out += value[i];
        }
    }
    return out;
}

QByteArray quotedPrintable(const QByteArray& value)
{
    QByteArray out;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] == '=' && i + 2 < value.size() + 0 && i + 2 <= value.size() - 1) {
            bool ok = false;
            const int byte = value.mid(i + 1, 2).toInt(&ok, 16);
            if (ok) {
                out += static_cast<char>(byte);
                i += 2;
                continue;
            }
        }
        out += value[i];
    }
    return out;
}

// Lines with folding undone: a line starting with a space or tab goes on the
// one before; a quoted-printable line ending in '=' goes on to the next.
// Linear in the file's size: whether a line is quoted-printable is decided
// once, from its name and parameters, not again for each piece.
QList<QByteArray> unfoldedLines(const QByteArray& bytes)
{
    QList<QByteArray> lines;
    bool quotedPrintableLine = false;
    for (QByteArray line : bytes.split('\n')) {
        if (line.endsWith('\r')) {
            line.chop(1);
        }
        if (!lines.isEmpty() && (line.startsWith(' ') || line.startsWith('\t'))) {
            lines.last().append(line.constData() + 1, line.size() - 1);
        } else if (!lines.isEmpty() && quotedPrintableLine && lines.last().endsWith('=')) {
            lines.last().chop(1);
            lines.last().append(line);
        } else {
            const qsizetype colon = line.indexOf(':');
            quotedPrintableLine =
                colon > 0 && line.left(colon).toUpper().contains("QUOTED-PRINTABLE");
            lines.append(std::move(line));
        }
    }
    return lines;
}

// A name or an address as it may be written out: no control characters
// (a CR or LF in it would start a line of its own in the file).
QString withoutControls(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        out += (c.unicode() < 0x20 || c.unicode() == 0x7F || c.category() == QChar::Other_Control)
                   ? QChar(u' ')
                   : c;
    }
    return out;
}

// The charset of a CSV file: UTF-8 when it is UTF-8 but for a stray byte or
// two (those become U+FFFD), else what the text looks like.
QByteArray csvCharset(QByteArrayView data)
{
    qsizetype valid = 0;   // bytes in whole UTF-8 sequences of two or more
    qsizetype invalid = 0; // bytes in none
    for (qsizetype i = 0; i < data.size();) {
        const auto b = static_cast<unsigned char>(data[i]);
        const int length = b < 0x80             ? 1
                           : (b & 0xE0) == 0xC0 ? 2
                           : (b & 0xF0) == 0xE0 ? 3
                           : (b & 0xF8) == 0xF0 ? 4
                                                : 0;
        bool whole = length > 0 && i + length <= data.size();
        for (int k = 1; whole && k < length; ++k) {
            whole = (static_cast<unsigned char>(data[i + k]) & 0xC0) == 0x80;
        }
        if (!whole) {
            ++invalid;
            ++i;
            continue;
        }
        if (length > 1) {
            valid += length;
        }
        i += length;
    }
    if (invalid > 0 && valid >= 100 * invalid) {
        return "UTF-8";
    }
    return mailtext::guessCharset(data);
}

QString textOf(const QByteArray& value)
{
    return mailtext::decode(value, "UTF-8");
}

QString cut(const QString& text, qsizetype characters)
{
    return text::cutCharacters(text.trimmed(), characters);
}

QList<QString> csvRow(const QString& text, qsizetype& at)
{
    QList<QString> fields;
    QString field;
    bool quoted = false;
    while (at < text.size()) {
        const QChar c = text[at++];
        if (quoted) {
            if (c == u'"' && at < text.size() && text[at] == u'"') {
                field += u'"';
                ++at;
            } else if (c == u'"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == u'"') {
            quoted = true;
        } else if (c == u',') {
            fields.append(field);
            field.clear();
        } else if (c == u'\n' || c == u'\r') {
            if (c == u'\r' && at < text.size() && text[at] == u'\n') {
                ++at;
            }
            break;
        } else {
            field += c;
        }
    }
    fields.append(field);
    return fields;
}

int column(const QList<QString>& header, const QStringList& names)
{
    for (const QString& name : names) {
        for (qsizetype i = 0; i < header.size(); ++i) {
            if (header[i].trimmed().compare(name, Qt::CaseInsensitive) == 0) {
                return static_cast<int>(i);
            }
        }
    }
    return -1;
}

QByteArray escapeVCard(const QString& text)
{
    QString out = withoutControls(text);
    out.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    out.replace(QLatin1Char(','), QStringLiteral("\\,"));
    out.replace(QLatin1Char(';'), QStringLiteral("\\;"));
    out.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
    return out.toUtf8();
}

// Lines of at most 75 bytes, continued after CR LF and a space, never
// inside a UTF-8 character.
QByteArray folded(const QByteArray& line)
{
    QByteArray out;
    qsizetype start = 0;
    qsizetype limit = 75;
    while (line.size() - start > limit) {
        qsizetype end = start + limit;
        while (end > start && (static_cast<unsigned char>(line[end]) & 0xC0) == 0x80) {
            --end;
        }
        out += line.mid(start, end - start) + "\r\n ";
        start = end;
        limit = 74;
    }
    return out + line.mid(start) + "\r\n";
}

// A cell a spreadsheet would run as a formula is written with a quote
// before it, as spreadsheets show text.
bool looksLikeFormula(const QString& text)
{
    return !text.isEmpty() && (text[0] == u'=' || text[0] == u'+' || text[0] == u'-' ||
                               text[0] == u'@' || text[0] == u'\t' || text[0] == u'\r');
}

QString csvField(const QString& raw)
{
    QString text = withoutControls(raw);
    if (looksLikeFormula(text)) {
        text.prepend(u'\'');
    }
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"'))) {
        return text;
    }
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

} // namespace

QList<AddressEntry> readVCards(const QByteArray& bytes)
{
    QList<AddressEntry> entries;
    QString name;
    QString structuredName;
    QStringList emails;
    for (const QByteArray& line : unfoldedLines(bytes)) {
        const qsizetype colon = line.indexOf(':');
        if (colon < 0) {
            continue;
        }
        QList<QByteArray> params = line.left(colon).split(';');
        QByteArray property = params.takeFirst().toUpper();
        if (const qsizetype dot = property.indexOf('.'); dot >= 0) {
            property = property.mid(dot + 1); // "item1.EMAIL"
        }
        QByteArray value = line.mid(colon + 1);
        QByteArray charset;
        for (const QByteArray& param : params) {
            const QByteArray upper = param.toUpper();
            if (upper == "ENCODING=QUOTED-PRINTABLE" || upper == "QUOTED-PRINTABLE") {
                value = quotedPrintable(value);
            } else if (upper.startsWith("CHARSET=")) {
                charset = param.mid(8);
            }
        }
        const auto decoded = [&](const QByteArray& v) {
            return charset.isEmpty() ? textOf(unescapeVCard(v))
                                     : mailtext::decode(unescapeVCard(v), charset);
        };
        if (property == "BEGIN") {
            name.clear();
            structuredName.clear();
            emails.clear();
        } else if (property == "FN") {
            name = decoded(value).trimmed();
        } else if (property == "N") {
            // family;given;additional;prefix;suffix
            const QList<QByteArray> parts = value.split(';');
            QString joined;
            for (int i = 0; i < std::min<qsizetype>(2, parts.size()); ++i) {
                const QString part = decoded(parts[i]).trimmed();
                if (!part.isEmpty()) {
                    joined += (joined.isEmpty() ? QString() : QStringLiteral(" ")) + part;
                }
            }
            structuredName = joined;
        } else if (property == "EMAIL") {
            QString address = decoded(value).trimmed();
            if (address.startsWith(QStringLiteral("mailto:"), Qt::CaseInsensitive)) {
                address = address.mid(7);
            }
            if (!address.isEmpty()) {
                emails.append(address);
            }
        } else if (property == "END") {
            for (const QString& email : emails) {
                entries.append({name.isEmpty() ? structuredName : name, email});
            }
            emails.clear();
        }
    }
    return entries;
}

QList<AddressEntry> readCsv(const QByteArray& bytes)
{
    QByteArray data = bytes;
    if (data.startsWith("\xEF\xBB\xBF")) {
        data = data.mid(3);
    }
    const QByteArray charset = csvCharset(data);
    const QString text =
        charset == "UTF-8" ? QString::fromUtf8(data) : mailtext::decode(data, charset);
    qsizetype at = 0;
    const QList<QString> header = csvRow(text, at);
    const int email =
        column(header, {QStringLiteral("E-mail Address"), QStringLiteral("E-mail 1 - Value"),
                        QStringLiteral("Primary Email"), QStringLiteral("Email Address"),
                        QStringLiteral("Email"), QStringLiteral("E-mail"),
                        QStringLiteral("電子メール アドレス"), QStringLiteral("電子メールアドレス"),
                        QStringLiteral("メールアドレス"), QStringLiteral("電子メール"),
                        QStringLiteral("Eメール"), QStringLiteral("メール")});
    if (email < 0) {
        return {};
    }
    const int display =
        column(header, {QStringLiteral("Display Name"), QStringLiteral("Name"),
                        QStringLiteral("Full Name"), QStringLiteral("表示名"),
                        QStringLiteral("名前"), QStringLiteral("氏名"), QStringLiteral("表題")});
    const int family = column(
        header, {QStringLiteral("Last Name"), QStringLiteral("Family Name"), QStringLiteral("姓")});
    const int given = column(
        header, {QStringLiteral("First Name"), QStringLiteral("Given Name"), QStringLiteral("名")});
    QList<AddressEntry> entries;
    while (at < text.size()) {
        const QList<QString> row = csvRow(text, at);
        const auto cell = [&row](int i) {
            QString value = i >= 0 && i < row.size() ? row[i].trimmed() : QString();
            // What a formula-safe export put before a cell comes off again.
            if (value.startsWith(u'\'') && looksLikeFormula(value.mid(1))) {
                value.remove(0, 1);
            }
            return value;
        };
        const QString address = cell(email);
        if (address.isEmpty()) {
            continue;
        }
        QString name = cell(display);
        if (name.isEmpty()) {
            name = (cell(family) + QLatin1Char(' ') + cell(given)).trimmed();
        }
        entries.append({name, address});
    }
    return entries;
}

QList<AddressEntry> readAddressFile(const QByteArray& bytes)
{
    QByteArray start = bytes.left(64).trimmed().toUpper();
    if (start.startsWith("\xEF\xBB\xBF")) {
        start = start.mid(3);
    }
    return start.startsWith("BEGIN:VCARD") ? readVCards(bytes) : readCsv(bytes);
}

QByteArray writeVCards(const QList<AddressEntry>& entries)
{
    QByteArray out;
    for (const AddressEntry& entry : entries) {
        const QString name = text::trimSpaces(text::CutAtNul(entry.name));
        const QString address = text::trimSpaces(text::CutAtNul(entry.address));
        out += "BEGIN:VCARD\r\nVERSION:4.0\r\n";
        out += folded("FN:" + escapeVCard(name.isEmpty() ? address : name));
        if (!address.isEmpty()) {
            out += folded("EMAIL:" + escapeVCard(address));
        }
        out += "END:VCARD\r\n";
    }
    return out;
}

QByteArray writeCsv(const QList<AddressEntry>& entries)
{
    QString text = QStringLiteral("Display Name,E-mail Address\r\n");
    for (const AddressEntry& entry : entries) {
        text += csvField(text::trimSpaces(text::CutAtNul(entry.name))) + QLatin1Char(',') +
                csvField(text::trimSpaces(text::CutAtNul(entry.address))) + QStringLiteral("\r\n");
    }
    return "\xEF\xBB\xBF" + text.toUtf8();
}

AddOutcome addNew(const AddressBook& book, const QList<AddressEntry>& entries)
{
    AddOutcome outcome;
    const Result<QList<AddressEntry>> present = book.entries();
    if (!present.ok()) {
        outcome.status = present.status();
        return outcome;
    }
    QSet<QString> known;
    const auto key = [](const QString& name, const QString& address) {
        return text::trimSpaces(name) + QLatin1Char('\n') + text::trimSpaces(address).toLower();
    };
    for (const AddressEntry& entry : present.value()) {
        known.insert(key(entry.name, entry.address));
    }
    QList<AddressEntry> fresh;
    for (const AddressEntry& entry : entries) {
        const QString name = text::readableCp932(cut(withoutControls(entry.name), kNameCharacters));
        const QString address = cut(withoutControls(entry.address), kAddressCharacters);
        if (address.isEmpty() || known.contains(key(name, address))) {
            ++outcome.skipped;
            continue;
        }
        known.insert(key(name, address));
        fresh.append({name, address});
    }
    const Result<int> added = book.addMany(fresh);
    if (!added.ok()) {
        outcome.status = added.status();
        return outcome;
    }
    outcome.added = added.value();
    outcome.full = added.value() < fresh.size();
    return outcome;
}

} // namespace lumora::addresses
