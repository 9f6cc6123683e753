#include "mail/mime_composer.h"

#include "store/file_io.h"
#include "store/text_codec.h"

#include <QFileInfo>
#include <QLocale>
#include <QRandomGenerator>
#include <QRegularExpression>

namespace lumora::mime {
namespace {

// The longest line SMTP carries as it is (RFC 5322: 998 bytes without the
// line end); a body with a longer one goes in an encoding that keeps it
// whole.
constexpr qsizetype kMaxWireLine = 998;
// Larger files are refused: base64 makes them a third larger again, and most
// servers take no more than 25 to 50 MB in one mail.
constexpr qint64 kMaxAttachmentBytes = qint64(50) << 20;

bool hasControl(const QString& text)
{
    return std::any_of(text.begin(), text.end(), [](QChar c) {
        return c == QLatin1Char('\r') || c == QLatin1Char('\n') || c.unicode() == 0;
    });
}

bool isAscii(const QString& text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; });
}

// JIS bytes for one CP932 double-byte character, when it lies in JIS X 0208
// or the NEC special row.
std::optional<std::pair<char, char>> sjisToJis(unsigned char lead, unsigned char trail)
{
    if (!((lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xEA))) {
        return std::nullopt;
    }
    if (trail < 0x40 || trail == 0x7F || trail > 0xFC) {
        return std::nullopt;
    }
    int row = (lead <= 0x9F ? lead - 0x71 : lead - 0xB1) * 2 + 1;
    int cell = trail > 0x7F ? trail - 1 : trail;
    if (cell >= 0x9E) {
        cell -= 0x7D;
        row += 1;
    } else {
        cell -= 0x1F;
    }
    if (row < 0x21 || row > 0x7E || cell < 0x21 || cell > 0x7E) {
        return std::nullopt;
    }
    return std::pair<char, char>(static_cast<char>(row), static_cast<char>(cell));
}

QByteArray base64Lines(const QByteArray& data)
{
    const QByteArray encoded = data.toBase64();
    QByteArray out;
    out.reserve(encoded.size() + encoded.size() / 76 * 2 + 2);
    for (qsizetype i = 0; i < encoded.size(); i += 76) {
        out += encoded.mid(i, 76) + "\r\n";
    }
    return out;
}

bool plainJis(const QString& text);

// Encoded words for a header text, each at most 75 characters, joined by
// folding white space.
QByteArray encodedWords(const QString& text, qsizetype firstLineUsed, bool always = false)
{
    if (!always && isAscii(text)) {
        return text.toLatin1();
    }
    // ISO-2022-JP only as every reader reads it: plain JIS X 0208.
    const bool jis = plainJis(text);
    const QByteArray prefix = jis ? "=?ISO-2022-JP?B?" : "=?UTF-8?B?";
    const QString& source = text;
    QList<QByteArray> words;
    QString chunk;
    const auto encodeChunk = [&](const QString& c) {
        const QByteArray bytes = jis ? *encodeIso2022Jp(c) : c.toUtf8();
        return prefix + bytes.toBase64() + "?=";
    };
    // Lines of at most 76 characters: the first shares its line with the
    // header's name, the others start with a space.
    qsizetype limit = std::max<qsizetype>(76 - firstLineUsed, 40);
    for (qsizetype i = 0; i < source.size(); ++i) {
        const bool pair = source[i].isHighSurrogate() && i + 1 < source.size();
        const QString c = source.mid(i, pair ? 2 : 1);
        if (!chunk.isEmpty() && encodeChunk(chunk + c).size() > limit) {
            words.append(encodeChunk(chunk));
            chunk.clear();
            limit = 75;
        }
        chunk += c;
        i += pair ? 1 : 0;
    }
    if (!chunk.isEmpty()) {
        words.append(encodeChunk(chunk));
    }
    return words.join("\r\n ");
}

// One mailbox for a header: the display name encoded, the address as is.
QByteArray mailboxHeader(const QString& mailbox)
{
    const QString trimmed = mailbox.trimmed();
    const qsizetype open = trimmed.lastIndexOf(QLatin1Char('<'));
    if (open < 0 || !trimmed.endsWith(QLatin1Char('>'))) {
        return trimmed.toUtf8();
    }
    QString name = trimmed.left(open).trimmed();
    if (name.size() >= 2 && name.startsWith(QLatin1Char('"')) && name.endsWith(QLatin1Char('"'))) {
        name = name.mid(1, name.size() - 2);
    }
    const QByteArray address = trimmed.mid(open).toUtf8();
    if (name.isEmpty()) {
        return address;
    }
    if (isAscii(name)) {
        QString quoted = name;
        quoted.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
        quoted.replace(QLatin1Char('"'), QStringLiteral("\\\""));
        return '"' + quoted.toLatin1() + "\" " + address;
    }
    return encodedWords(name, 6) + ' ' + address;
}

QStringList splitMailboxes(const QString& list)
{
    QStringList out;
    QString current;
    bool quoted = false;
    int angle = 0;
    for (const QChar c : list) {
        if (c == QLatin1Char('"')) {
            quoted = !quoted;
        } else if (!quoted && c == QLatin1Char('<')) {
            ++angle;
        } else if (!quoted && c == QLatin1Char('>')) {
            --angle;
        }
        if (!quoted && angle <= 0 && (c == QLatin1Char(',') || c == QLatin1Char(';'))) {
            if (!current.trimmed().isEmpty()) {
                out.append(current.trimmed());
            }
            current.clear();
            continue;
        }
        current += c;
    }
    if (!current.trimmed().isEmpty()) {
        out.append(current.trimmed());
    }
    return out;
}

bool isUsableAddress(const QString& address)
{
    if (address.isEmpty() || !address.contains(QLatin1Char('@'))) {
        return false;
    }
    return std::none_of(address.begin(), address.end(), [](QChar c) {
        return c.unicode() <= 0x20 || c == QLatin1Char('<') || c == QLatin1Char('>') ||
               c == QLatin1Char(',') || c.unicode() == 0x7F;
    });
}

QByteArray contentTypeFor(const QString& fileName)
{
    static const QList<std::pair<QString, QByteArray>> table = {
        {QStringLiteral("jpg"), "image/jpeg"},
        {QStringLiteral("jpeg"), "image/jpeg"},
        {QStringLiteral("png"), "image/png"},
        {QStringLiteral("gif"), "image/gif"},
        {QStringLiteral("bmp"), "image/bmp"},
        {QStringLiteral("pdf"), "application/pdf"},
        {QStringLiteral("zip"), "application/zip"},
        {QStringLiteral("txt"), "text/plain"},
        {QStringLiteral("htm"), "text/html"},
        {QStringLiteral("html"), "text/html"},
        {QStringLiteral("doc"), "application/msword"},
        {QStringLiteral("xls"), "application/vnd.ms-excel"},
        {QStringLiteral("docx"),
         "application/vnd.openxmlformats-officedocument.wordprocessingml.document"},
        {QStringLiteral("xlsx"),
         "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"},
        {QStringLiteral("mp3"), "audio/mpeg"},
        {QStringLiteral("mp4"), "video/mp4"},
        {QStringLiteral("csv"), "text/csv"},
        {QStringLiteral("eml"), "message/rfc822"},
    };
    const QString ext = QFileInfo(fileName).suffix().toLower();
    for (const auto& [e, type] : table) {
        if (e == ext) {
            return type == "message/rfc822" ? QByteArray("application/octet-stream") : type;
        }
    }
    return "application/octet-stream";
}

// The quoted name= value: the name as it is when it is plain printable
// ASCII that cannot end the quotes or the parameter, else encoded words,
// which hold no quote, backslash, semicolon or line break.
QByteArray nameParameter(const QString& name)
{
    const bool plain = std::all_of(name.begin(), name.end(), [](QChar c) {
        return c.unicode() >= 0x20 && c.unicode() < 0x7F && c != u'"' && c != u'\\' && c != u';';
    });
    return encodedWords(name, 7, !plain);
}

// A file to attach: a regular file no larger than the limit, read whole. A
// device, a pipe or a folder would never end or never begin; they fail with
// a message naming the path.
std::optional<QByteArray> attachmentBytes(const QString& path, QString* why)
{
    Result<QByteArray> data = fileio::readPlainFile(path, kMaxAttachmentBytes);
    if (data.ok()) {
        return std::move(data).value();
    }
    switch (data.status().error()) {
    case StoreError::NotFound:
        *why = QStringLiteral("添付ファイル「%1」が見つかりません。").arg(path);
        break;
    case StoreError::BadArgument:
        *why = QStringLiteral("「%1」は普通のファイルではないので、添付できません。").arg(path);
        break;
    case StoreError::Full:
        *why = QStringLiteral("添付ファイル「%1」は大きすぎます（%2 MBまで添付できます）。")
                   .arg(path)
                   .arg(kMaxAttachmentBytes >> 20);
        break;
    default:
        *why = QStringLiteral("添付ファイル「%1」を読み込めません。").arg(path);
        break;
    }
    return std::nullopt;
}

// filename*=UTF-8''..., split into numbered pieces when long.
QByteArray rfc2231Name(const QString& name)
{
    const QByteArray encoded = name.toUtf8().toPercentEncoding();
    if (encoded.size() <= 60) {
        return "filename*=UTF-8''" + encoded;
    }
    QByteArray out;
    int index = 0;
    for (qsizetype i = 0; i < encoded.size(); ++index) {
        qsizetype end = std::min(encoded.size(), i + 60);
        // never cut inside a %XX escape
        if (end < encoded.size()) {
            const qsizetype percent = encoded.lastIndexOf('%', end - 1);
            if (percent >= 0 && percent > end - 3) {
                end = percent;
            }
        }
        out += (index ? ";\r\n " : "") + QByteArray("filename*") + QByteArray::number(index) +
               "*=" + (index == 0 ? "UTF-8''" : "") + encoded.mid(i, end - i);
        i = end;
    }
    return out;
}

// The body as CR LF lines in the chosen charset, every line whole.
QByteArray bodyBytes(const QString& body, bool jis);
// The body's Content-Type and Content-Transfer-Encoding lines, the empty
// line and the body: ISO-2022-JP in 7 bits when it is plain JIS X 0208 and
// every line fits a line of mail, else encoded so that lines stay whole
// (UTF-8 in base64 or quoted-printable, ISO-2022-JP in base64).
QByteArray textPart(const QString& body, bool quotedPrintableUtf8);
QByteArray threadLines(const QString& headers);

} // namespace

QString widenKana(const QString& text)
{
    // U+FF61 .. U+FF9F in order.
    static const QString wide = QStringLiteral(
        "。「」、・ヲァィゥェォャュョッーアイウエオカキクケコサシスセソタチツテトナニヌネノ"
        "ハヒフヘホマミムメモヤユヨラリルレロワン゛゜");
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t u = text[i].unicode();
        if (u < 0xFF61 || u > 0xFF9F) {
            out += text[i];
            continue;
        }
        QChar c = wide[u - 0xFF61];
        const char16_t next = i + 1 < text.size() ? text[i + 1].unicode() : 0;
        if (next == 0xFF9E || next == 0xFF9F) {
            const QString voiced = QString(c) + (next == 0xFF9E ? QChar(0x3099) : QChar(0x309A));
            const QString joined = voiced.normalized(QString::NormalizationForm_C);
            if (joined.size() == 1) {
                c = joined[0];
                ++i;
            } else if (c == QChar(u'ウ') && next == 0xFF9E) {
                c = QChar(u'ヴ');
                ++i;
            }
        }
        out += c;
    }
    return out;
}

namespace {

// The text as JIS units: one ASCII byte, or the two bytes of a JIS X 0208
// character (kanji true). Nothing when a character does not fit.
std::optional<QList<std::pair<QByteArray, bool>>> jisUnits(const QString& input)
{
    const QString text = widenKana(input);
    if (!text::fitsCp932(text)) {
        return std::nullopt;
    }
    const QByteArray sjis = text::encodeCp932(text);
    QList<std::pair<QByteArray, bool>> units;
    units.reserve(sjis.size());
    for (qsizetype i = 0; i < sjis.size(); ++i) {
        const auto b = static_cast<unsigned char>(sjis[i]);
        if (b < 0x80) {
            if (b == 0x1B || b == 0x0E || b == 0x0F) {
                return std::nullopt;
            }
            units.append({QByteArray(1, static_cast<char>(b)), false});
            continue;
        }
        if (i + 1 >= sjis.size()) {
            return std::nullopt;
        }
        const auto pair = sjisToJis(b, static_cast<unsigned char>(sjis[i + 1]));
        if (!pair) {
            return std::nullopt; // a single-byte kana, or outside JIS X 0208
        }
        QByteArray kanji;
        kanji.append(pair->first).append(pair->second);
        units.append({kanji, true});
        ++i;
    }
    // A character that CP932 writes as one ASCII byte (¥ as 0x5C) is not
    // ASCII: the counts of ASCII characters and bytes must agree.
    const auto asciiChars =
        std::count_if(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; });
    const auto asciiUnits =
        std::count_if(units.begin(), units.end(), [](const auto& u) { return !u.second; });
    if (asciiChars != asciiUnits) {
        return std::nullopt;
    }
    return units;
}

// JIS lines of at most maxBytes each (0: no limit), escapes included, each
// ending in ASCII mode.
QList<QByteArray> jisLines(const QList<std::pair<QByteArray, bool>>& units, qsizetype maxBytes)
{
    QList<QByteArray> lines;
    QByteArray line;
    bool kanji = false;
    for (const auto& [bytes, isKanji] : units) {
        const qsizetype needed = bytes.size() + (isKanji != kanji ? 3 : 0) + (isKanji ? 3 : 0);
        if (maxBytes > 0 && !line.isEmpty() && line.size() + needed > maxBytes) {
            if (kanji) {
                line += "\x1b(B";
                kanji = false;
            }
            lines.append(line);
            line.clear();
        }
        if (isKanji != kanji) {
            line += isKanji ? "\x1b$B" : "\x1b(B";
            kanji = isKanji;
        }
        line += bytes;
    }
    if (kanji) {
        line += "\x1b(B";
    }
    lines.append(line);
    return lines;
}

} // namespace

QByteArray rfc2822Date(const QDateTime& when)
{
    const QDateTime local = when.isValid() ? when : QDateTime::currentDateTime();
    const QLocale c = QLocale::c();
    const int offset = local.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    return c.toString(local, QStringLiteral("ddd, dd MMM yyyy HH:mm:ss ")).toLatin1() +
           (offset < 0 ? '-' : '+') +
           QByteArray::number(minutes / 60 * 100 + minutes % 60).rightJustified(4, '0');
}

std::optional<QByteArray> encodeIso2022Jp(const QString& input)
{
    const auto units = jisUnits(input);
    if (!units) {
        return std::nullopt;
    }
    return jisLines(*units, 0).first();
}

QString addressPart(const QString& mailbox)
{
    const QString trimmed = mailbox.trimmed();
    const qsizetype open = trimmed.lastIndexOf(QLatin1Char('<'));
    const qsizetype close = trimmed.lastIndexOf(QLatin1Char('>'));
    if (open >= 0 && close > open) {
        return trimmed.mid(open + 1, close - open - 1).trimmed();
    }
    return trimmed;
}

std::optional<ComposedMail> compose(const OutgoingMail& mail, QString* error)
{
    const auto fail = [&](const QString& why) -> std::optional<ComposedMail> {
        if (error) {
            *error = why;
        }
        return std::nullopt;
    };
    if (hasControl(mail.to) || hasControl(mail.from) || hasControl(mail.subject)) {
        return fail(QStringLiteral("宛先・差出人・件名に改行などの制御文字が含まれているため、"
                                   "送信を中止しました。"));
    }
    ComposedMail out;
    const QString from = addressPart(mail.from);
    if (!isUsableAddress(from)) {
        return fail(QStringLiteral("差出人のメールアドレス「%1」が正しくありません。"
                                   "サーバー設定のメールアドレスを確かめてください。")
                        .arg(mail.from));
    }
    out.envelopeFrom = from.toUtf8();
    const QStringList recipients = splitMailboxes(mail.to);
    QList<QByteArray> toHeader;
    for (const QString& r : recipients) {
        const QString address = addressPart(r);
        if (!isUsableAddress(address)) {
            return fail(QStringLiteral("宛先のメールアドレス「%1」が正しくありません。").arg(r));
        }
        out.recipients.append(address.toUtf8());
        toHeader.append(mailboxHeader(r));
    }
    if (out.recipients.isEmpty()) {
        return fail(QStringLiteral("宛先のメールアドレスが入力されていません。"));
    }

    const QByteArray text = textPart(mail.body, false);

    const QByteArray domain = from.mid(from.lastIndexOf(QLatin1Char('@')) + 1).toUtf8();
    const QByteArray thread = threadLines(mail.headers);
    const QDateTime date = mail.date.isValid() ? mail.date : QDateTime::currentDateTime();
    QByteArray head;
    head += "Date: " + rfc2822Date(date) + "\r\n";
    head += "From: " + mailboxHeader(mail.from) + "\r\n";
    head += "To: " + toHeader.join(",\r\n ") + "\r\n";
    head += "Subject: " + encodedWords(mail.subject, 9) + "\r\n";
    head += "Message-ID: <" + QByteArray::number(date.toMSecsSinceEpoch()) + '.' +
            QByteArray::number(QRandomGenerator::global()->generate64(), 36) + '@' + domain +
            ">\r\n";
    head += thread;
    head += "MIME-Version: 1.0\r\n";
    head += "X-Mailer: Lumora\r\n";

    if (mail.attachments.isEmpty()) {
        out.bytes = head + text;
        return out;
    }
    const QByteArray boundary =
        "----=_Lumora_" + QByteArray::number(QRandomGenerator::global()->generate64(), 36);
    QByteArray bytes = head + "Content-Type: multipart/mixed; boundary=\"" + boundary +
                       "\"\r\n\r\nThis is a multi-part message in MIME format.\r\n\r\n";
    bytes += "--" + boundary + "\r\n" + text;
    for (const QString& path : mail.attachments) {
        QString why;
        const std::optional<QByteArray> data = attachmentBytes(path, &why);
        if (!data) {
            return fail(why);
        }
        const QString name = QFileInfo(path).fileName();
        bytes += "\r\n--" + boundary + "\r\n";
        bytes += "Content-Type: " + contentTypeFor(name) + ";\r\n name=\"" + nameParameter(name) +
                 "\"\r\n";
        bytes += "Content-Transfer-Encoding: base64\r\n";
        bytes += "Content-Disposition: attachment;\r\n " + rfc2231Name(name) + "\r\n\r\n";
        bytes += base64Lines(*data);
    }
    bytes += "\r\n--" + boundary + "--\r\n";
    out.bytes = bytes;
    return out;
}

namespace {

// True when the text goes into ISO-2022-JP as every reader reads it: plain
// JIS X 0208, without the Windows extensions (①, ㈱, 髙 ...).
bool plainJis(const QString& text)
{
    const std::optional<QByteArray> bytes = encodeIso2022Jp(text);
    if (!bytes || widenKana(text) != text) {
        return false;
    }
    // Row 13 (the NEC specials) and rows 89 to 92 (the IBM extensions) are
    // Windows' own.
    bool twoByte = false;
    for (qsizetype i = 0; i < bytes->size(); ++i) {
        const char c = bytes->at(i);
        if (c == '\x1b' && i + 2 < bytes->size()) {
            twoByte = bytes->at(i + 1) == '$';
            i += 2;
        } else if (twoByte && c != '\r' && c != '\n') {
            if (c == 0x2D || c >= 0x79) {
                return false;
            }
            ++i;
        }
    }
    return true;
}

// Quoted-printable with CR LF line ends, which every reader turns back into
// the text's own lines.
QByteArray quotedPrintable(const QByteArray& text)
{
    QByteArray out;
    for (QByteArray line : text.split('\n')) {
        if (line.endsWith('\r')) {
            line.chop(1);
        }
        QByteArray encoded;
        qsizetype length = 0;
        for (qsizetype i = 0; i < line.size(); ++i) {
            const auto c = static_cast<unsigned char>(line[i]);
            const bool last = i + 1 == line.size();
            QByteArray piece;
            if ((c >= 33 && c <= 126 && c != '=') || ((c == ' ' || c == '\t') && !last)) {
                piece = QByteArray(1, static_cast<char>(c));
            } else {
                piece = '=' + QByteArray::number(c, 16).toUpper().rightJustified(2, '0');
            }
            if (length + piece.size() > 75) {
                encoded += "=\r\n";
                length = 0;
            }
            encoded += piece;
            length += piece.size();
        }
        out += encoded + "\r\n";
    }
    if (out.endsWith("\r\n\r\n")) {
        out.chop(2);
    }
    return out;
}

} // namespace

QByteArray mailFromTexts(const QString& from, const QString& date, const QString& subject,
                         const QString& body)
{
    // The text's last line end is the last line's, not an empty line after it.
    QString text = body;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    if (text.endsWith(u'\n')) {
        text.chop(1);
    }
    QByteArray head;
    const QString storedDate = date.trimmed();
    if (!storedDate.isEmpty()) {
        head +=
            "Date: " + (isAscii(storedDate) ? storedDate.toLatin1() : encodedWords(storedDate, 6)) +
            "\r\n";
    }
    if (!from.trimmed().isEmpty()) {
        head += "From: " + mailboxHeader(from) + "\r\n";
    }
    head += "Subject: " +
            (plainJis(subject) ? encodedWords(subject.trimmed(), 9)
                               : "=?UTF-8?B?" + subject.trimmed().toUtf8().toBase64() + "?=") +
            "\r\n";
    head += "MIME-Version: 1.0\r\n";
    return head + textPart(text, true);
}

namespace {

QByteArray threadLines(const QString& headers)
{
    static const QRegularExpression idList(QStringLiteral("^(<[!-;=?-~]+>)( <[!-;=?-~]+>)*$"));
    QByteArray out;
    for (const QString& line : headers.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts)) {
        const qsizetype colon = line.indexOf(QLatin1Char(':'));
        const QString name = line.left(colon).trimmed().toLower();
        const QString value = line.mid(colon + 1).trimmed();
        if (colon < 0 ||
            (name != QStringLiteral("in-reply-to") && name != QStringLiteral("references")) ||
            !idList.match(value).hasMatch()) {
            continue;
        }
        // Long reference lists are folded between identifiers.
        QByteArray folded = name == QStringLiteral("references") ? "References:" : "In-Reply-To:";
        qsizetype lineLength = folded.size();
        for (const QString& id : value.split(QLatin1Char(' '))) {
            if (lineLength + 1 + id.size() > 76 && lineLength > 12) {
                folded += "\r\n";
                lineLength = 0;
            }
            folded += ' ' + id.toLatin1();
            lineLength += 1 + id.size();
        }
        out += folded + "\r\n";
    }
    return out;
}

QByteArray bodyBytes(const QString& body, bool jis)
{
    QString text = body;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QByteArray out;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        if (jis) {
            out +=
                jisLines(jisUnits(line).value_or(QList<std::pair<QByteArray, bool>>{}), 0).first();
        } else {
            out += line.toUtf8();
        }
        out += "\r\n";
    }
    return out;
}

bool fitsLines(const QByteArray& bytes)
{
    qsizetype start = 0;
    while (start < bytes.size()) {
        qsizetype end = bytes.indexOf("\r\n", start);
        if (end < 0) {
            end = bytes.size();
        }
        if (end - start > kMaxWireLine) {
            return false;
        }
        start = end + 2;
    }
    return true;
}

QByteArray textPart(const QString& body, bool quotedPrintableUtf8)
{
    if (plainJis(body)) {
        const QByteArray bytes = bodyBytes(body, true);
        const QByteArray head = "Content-Type: text/plain; charset=ISO-2022-JP\r\n";
        if (fitsLines(bytes)) {
            return head + "Content-Transfer-Encoding: 7bit\r\n\r\n" + bytes;
        }
        return head + "Content-Transfer-Encoding: base64\r\n\r\n" + base64Lines(bytes);
    }
    const QByteArray head = "Content-Type: text/plain; charset=UTF-8\r\n";
    if (quotedPrintableUtf8) {
        QString text = body;
        text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        return head + "Content-Transfer-Encoding: quoted-printable\r\n\r\n" +
               quotedPrintable(text.toUtf8());
    }
    return head + "Content-Transfer-Encoding: base64\r\n\r\n" + base64Lines(bodyBytes(body, false));
}

} // namespace

} // namespace lumora::mime
