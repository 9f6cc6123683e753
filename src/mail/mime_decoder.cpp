#include "mail/mime_decoder.h"

#include "mail/binhex.h"
#include "mail/mail_text.h"

#include <QRegularExpression>

#include <gmime/gmime.h>

#include <array>
#include <cstdint>
#include <cstring>

#include <mutex>

namespace lumora::mime {
namespace {

// Nesting deeper than this is no real mail; the rest is left undecoded.
constexpr int kMaxDepth = 40;

// The name of a BinHex file: the Mac's own (in whatever charset that Mac
// wrote), else the part's name without its ".hqx".
QString binHexName(const BinHexFile& file, const QString& partName)
{
    QString name = mailtext::decode(file.name, {}).trimmed();
    if (name.isEmpty()) {
        name = partName;
        if (name.endsWith(QStringLiteral(".hqx"), Qt::CaseInsensitive)) {
            name.chop(4);
        }
    }
    return name;
}

void initialiseGMime()
{
    static std::once_flag once;
    std::call_once(once, [] { g_mime_init(); });
}

template <class T> struct GObjectPtr {
    T* p = nullptr;
    explicit GObjectPtr(T* object) : p(object) {}
    GObjectPtr(const GObjectPtr&) = delete;
    GObjectPtr& operator=(const GObjectPtr&) = delete;
    ~GObjectPtr()
    {
        if (p) {
            g_object_unref(p);
        }
    }
};

// The raw value of the first header of that name, or nothing.
std::optional<QByteArray> rawHeader(GMimeObject* object, const char* name)
{
    GMimeHeaderList* list = g_mime_object_get_header_list(object);
    if (!list) {
        return std::nullopt;
    }
    const int count = g_mime_header_list_get_count(list);
    for (int i = 0; i < count; ++i) {
        GMimeHeader* header = g_mime_header_list_get_header_at(list, i);
        const char* headerName = g_mime_header_get_name(header);
        if (headerName && g_ascii_strcasecmp(headerName, name) == 0) {
            const char* raw = g_mime_header_get_raw_value(header);
            if (!raw) {
                return QByteArray();
            }
            // No value the program reads needs more; a longer one is garbage
            // that would only cost time.
            return QByteArray(raw, static_cast<qsizetype>(::strnlen(raw, kMaxHeaderValue)));
        }
    }
    return std::nullopt;
}

// The charset the mail declares for its text (its first charset
// parameter), which raw 8-bit header text is most likely in too.
thread_local QByteArray declaredCharset;

QString headerText(GMimeObject* object, const char* name)
{
    const auto raw = rawHeader(object, name);
    return raw ? mailtext::decodeHeader(*raw, declaredCharset).trimmed() : QString();
}

QByteArray firstCharset(const QByteArray& raw)
{
    const qsizetype at =
        raw.indexOf("charset=") >= 0 ? raw.indexOf("charset=") : raw.toLower().indexOf("charset=");
    if (at < 0) {
        return {};
    }
    qsizetype start = at + 8;
    if (start < raw.size() && raw[start] == '"') {
        ++start;
    }
    qsizetype end = start;
    while (end < raw.size() && end - start < 40 &&
           !QByteArrayView(" \t\r\n;\"").contains(raw[end])) {
        ++end;
    }
    return raw.mid(start, end - start);
}

// An identifier field (Message-ID, References) as written, unfolded.
QByteArray idField(GMimeObject* object, const char* name)
{
    QByteArray value = rawHeader(object, name).value_or(QByteArray());
    value.replace('\r', ' ').replace('\n', ' ').replace('\t', ' ');
    return value.simplified();
}

// The content as it stands in the mail, transfer encoding and all.
QByteArray encodedBytes(GMimeDataWrapper* content)
{
    GMimeStream* stream = g_mime_data_wrapper_get_stream(content);
    if (!stream || g_mime_stream_reset(stream) != 0) {
        return {};
    }
    const gint64 length = g_mime_stream_length(stream);
    QByteArray bytes;
    bytes.reserve(length > 0 ? static_cast<qsizetype>(length) : 4096);
    char buffer[65536];
    for (;;) {
        const gssize got = g_mime_stream_read(stream, buffer, sizeof buffer);
        if (got <= 0) {
            break;
        }
        bytes.append(buffer, got);
    }
    g_mime_stream_reset(stream);
    return bytes;
}

QByteArray contentBytes(GMimePart* part)
{
    GMimeDataWrapper* content = g_mime_part_get_content(part);
    if (!content) {
        return {};
    }
    // Most of a mail's bytes are base64 attachments; decoded here in one
    // pass into their final buffer rather than through GMime's filters and
    // a growing stream.
    if (g_mime_data_wrapper_get_encoding(content) == GMIME_CONTENT_ENCODING_BASE64) {
        if (std::optional<QByteArray> data = decodeBase64Lines(encodedBytes(content))) {
            return *std::move(data);
        }
    }
    GObjectPtr<GMimeStream> stream(g_mime_stream_mem_new());
    g_mime_data_wrapper_write_to_stream(content, stream.p);
    GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(stream.p));
    return QByteArray(reinterpret_cast<const char*>(bytes->data),
                      static_cast<qsizetype>(bytes->len));
}

QByteArray objectBytes(GMimeObject* object)
{
    GObjectPtr<GMimeStream> stream(g_mime_stream_mem_new());
    g_mime_object_write_to_stream(object, nullptr, stream.p);
    GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(stream.p));
    return QByteArray(reinterpret_cast<const char*>(bytes->data),
                      static_cast<qsizetype>(bytes->len));
}

QString withCrlf(const QString& text)
{
    QString out = text;
    out.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    out.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    out.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    return out;
}

QString extensionFor(const QByteArray& type)
{
    static const QList<std::pair<QByteArray, QString>> table = {
        {"image/jpeg", QStringLiteral(".jpg")},      {"image/png", QStringLiteral(".png")},
        {"image/gif", QStringLiteral(".gif")},       {"image/bmp", QStringLiteral(".bmp")},
        {"application/pdf", QStringLiteral(".pdf")}, {"application/zip", QStringLiteral(".zip")},
        {"text/html", QStringLiteral(".html")},      {"text/plain", QStringLiteral(".txt")},
        {"message/rfc822", QStringLiteral(".eml")},  {"audio/mpeg", QStringLiteral(".mp3")},
        {"video/mp4", QStringLiteral(".mp4")},       {"text/calendar", QStringLiteral(".ics")},
        {"text/x-vcard", QStringLiteral(".vcf")},    {"text/vcard", QStringLiteral(".vcf")},
    };
    for (const auto& [t, ext] : table) {
        if (t == type) {
            return ext;
        }
    }
    return QStringLiteral(".dat");
}

// Walks the parts of a mail and sorts them into body and attachments.
class Walker {
public:
    explicit Walker(DecodedMail& mail) : mail_(mail) {}

    void walk(GMimeObject* object, int depth)
    {
        if (!object) {
            return;
        }
        if (depth > kMaxDepth) {
            addAttachment(QString(), "application/octet-stream", objectBytes(object));
            return;
        }
        const mailtext::HeaderValue type = contentType(object);
        if (GMIME_IS_MULTIPART(object)) {
            GMimeMultipart* multipart = GMIME_MULTIPART(object);
            const int count = g_mime_multipart_get_count(multipart);
            if (type.value == "multipart/alternative") {
                walkAlternative(multipart, count, depth);
                return;
            }
            // A Mac file in AppleDouble: its Finder information and resource
            // fork (application/applefile) mean nothing here; its data part
            // is the file, under its name.
            const bool appleDouble = type.value == "multipart/appledouble";
            for (int i = 0; i < count && appleDouble; ++i) {
                GMimeObject* part = g_mime_multipart_get_part(multipart, i);
                if (contentType(part).value != "application/applefile") {
                    walk(part, depth + 1);
                }
            }
            if (appleDouble) {
                return;
            }
            for (int i = 0; i < count; ++i) {
                walk(g_mime_multipart_get_part(multipart, i), depth + 1);
            }
            return;
        }
        if (GMIME_IS_MESSAGE_PART(object)) {
            GMimeMessage* inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(object));
            QString name = fileName(object);
            if (name.isEmpty() && inner) {
                name = headerText(GMIME_OBJECT(inner), "Subject");
            }
            if (name.isEmpty()) {
                name = QStringLiteral("message");
            }
            if (!name.endsWith(QStringLiteral(".eml"), Qt::CaseInsensitive)) {
                name += QStringLiteral(".eml");
            }
            keep({name, inner ? objectBytes(GMIME_OBJECT(inner)) : QByteArray()});
            return;
        }
        if (GMIME_IS_PART(object)) {
            walkLeaf(GMIME_PART(object), type);
        }
    }

    // Text of a nameless text part that is not the body (a mailing list's
    // footer, say), added to the body after an empty line.
    QStringList extraTexts;

private:
    static mailtext::HeaderValue contentType(GMimeObject* object)
    {
        const auto raw = rawHeader(object, "Content-Type");
        mailtext::HeaderValue value =
            raw ? mailtext::parseHeaderValue(*raw) : mailtext::HeaderValue{};
        if (value.value.isEmpty() || !value.value.contains('/')) {
            value.value = "text/plain";
        }
        return value;
    }

    static QString fileName(GMimeObject* object)
    {
        if (const auto raw = rawHeader(object, "Content-Disposition")) {
            const mailtext::HeaderValue disposition = mailtext::parseHeaderValue(*raw);
            if (const QString name = disposition.params.value("filename"); !name.isEmpty()) {
                return name;
            }
        }
        return contentType(object).params.value("name");
    }

    static bool isAttachmentDisposition(GMimeObject* object)
    {
        const auto raw = rawHeader(object, "Content-Disposition");
        return raw && mailtext::parseHeaderValue(*raw).value == "attachment";
    }

    void walkAlternative(GMimeMultipart* multipart, int count, int depth)
    {
        // The plain text, else the richest other version.
        GMimeObject* chosen = nullptr;
        for (int i = 0; i < count && !chosen; ++i) {
            GMimeObject* part = g_mime_multipart_get_part(multipart, i);
            if (contentType(part).value == "text/plain") {
                chosen = part;
            }
        }
        if (!chosen && count > 0) {
            chosen = g_mime_multipart_get_part(multipart, count - 1);
        }
        walk(chosen, depth + 1);
        // The files of the other versions (the pictures of an HTML version)
        // are the mail's too; only their texts are the body said again.
        for (int i = 0; i < count; ++i) {
            if (GMimeObject* part = g_mime_multipart_get_part(multipart, i); part != chosen) {
                walkFilesOnly(part, depth + 1);
            }
        }
    }

    void walkFilesOnly(GMimeObject* object, int depth)
    {
        if (!object || depth > kMaxDepth) {
            return;
        }
        if (GMIME_IS_MULTIPART(object)) {
            GMimeMultipart* multipart = GMIME_MULTIPART(object);
            for (int i = 0; i < g_mime_multipart_get_count(multipart); ++i) {
                walkFilesOnly(g_mime_multipart_get_part(multipart, i), depth + 1);
            }
            return;
        }
        const mailtext::HeaderValue type = contentType(object);
        const bool text = type.value == "text/plain" || type.value == "text/html" ||
                          type.value == "text/enriched";
        if (GMIME_IS_MESSAGE_PART(object) || (GMIME_IS_PART(object) && !text)) {
            walk(object, depth);
        }
    }

    void walkLeaf(GMimePart* part, const mailtext::HeaderValue& type)
    {
        GMimeObject* object = GMIME_OBJECT(part);
        const QString name = fileName(object);
        if (mail_.attachments.size() >= kMaxAttachments && bodyTaken_) {
            ++droppedFiles; // not even decoded
            return;
        }
        const QByteArray data = contentBytes(part);
        if (type.value == "application/mac-binhex40" ||
            name.endsWith(QStringLiteral(".hqx"), Qt::CaseInsensitive)) {
            // The file inside, under the name the Mac gave it.
            if (const std::optional<BinHexFile> file = decodeBinHex(data)) {
                keep({binHexName(*file, name), file->data});
                return;
            }
        }
        const bool plain = type.value == "text/plain";
        const bool html = type.value == "text/html";
        if ((!plain && !html) ||
            (!name.isEmpty() && (bodyTaken_ || isAttachmentDisposition(object)))) {
            addAttachment(name, type.value, data);
            return;
        }
        const QByteArray charset = type.params.value("charset").toLatin1();
        if (html) {
            if (bodyTaken_) {
                addAttachment(name, type.value, data);
            } else {
                setBody(mailtext::htmlToText(mailtext::decode(data, charset)));
            }
            return;
        }
        UuResult uu = extractUuencoded(data);
        for (Attachment& file : uu.files) {
            keep(std::move(file));
        }
        for (Attachment& file : extractBinHex(uu.text)) {
            keep(std::move(file));
        }
        const QString decoded = mailtext::decode(uu.text, charset);
        if (!bodyTaken_) {
            setBody(decoded);
        } else if (!decoded.trimmed().isEmpty()) {
            if (extraTexts.size() < kMaxExtraTexts) {
                extraTexts.append(decoded);
            } else {
                ++droppedTexts;
            }
        }
    }

    void setBody(const QString& text)
    {
        mail_.body = text;
        bodyTaken_ = true;
    }

    void addAttachment(QString name, const QByteArray& type, const QByteArray& data)
    {
        if (name.isEmpty()) {
            name = QStringLiteral("添付%1").arg(++unnamed_) + extensionFor(type);
        }
        keep({name, data});
    }

    void keep(Attachment&& file)
    {
        if (mail_.attachments.size() < kMaxAttachments) {
            mail_.attachments.append(std::move(file));
        } else {
            ++droppedFiles;
        }
    }

public:
    int droppedFiles = 0;
    int droppedTexts = 0;

private:
    DecodedMail& mail_;
    bool bodyTaken_ = false;
    int unnamed_ = 0;
};

// Splits a mail GMime could not read at its first empty line.
void decodeWithoutStructure(const QByteArray& raw, DecodedMail& mail)
{
    qsizetype end = raw.indexOf("\r\n\r\n");
    qsizetype bodyStart = end < 0 ? -1 : end + 4;
    if (const qsizetype lf = raw.indexOf("\n\n"); lf >= 0 && (end < 0 || lf < end)) {
        end = lf;
        bodyStart = lf + 2;
    }
    const QByteArray body = bodyStart < 0 ? raw : raw.mid(bodyStart);
    mail.body = withCrlf(mailtext::decode(body, {}));
}

} // namespace

QList<Attachment> extractBinHex(QByteArray& text)
{
    QList<Attachment> files;
    qsizetype from = 0;
    while (const auto block = findBinHex(text, from)) {
        const std::optional<BinHexFile> file =
            decodeBinHex(QByteArrayView(text).sliced(block->first, block->second - block->first));
        if (!file) {
            from = block->second; // not a file after all: it stays in the text
            continue;
        }
        files.append({binHexName(*file, {}), file->data});
        text.remove(block->first, block->second - block->first);
        from = block->first;
    }
    return files;
}

UuResult extractUuencoded(const QByteArray& text)
{
    UuResult result;
    const QList<QByteArray> lines = text.split('\n');
    QByteArray kept;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArray line = lines[i].endsWith('\r') ? lines[i].chopped(1) : lines[i];
        const bool isBegin = line.startsWith("begin ") && line.size() > 10 && line[6] >= '0' &&
                             line[6] <= '7' && line[9] == ' ';
        qsizetype end = -1;
        if (isBegin) {
            for (qsizetype j = i + 1; j < lines.size(); ++j) {
                const QByteArray l = lines[j].trimmed();
                if (l == "end") {
                    end = j;
                    break;
                }
            }
        }
        if (!isBegin || end < 0) {
            kept += lines[i];
            if (i + 1 < lines.size()) {
                kept += '\n';
            }
            continue;
        }
        QByteArray data;
        for (qsizetype j = i + 1; j < end; ++j) {
            QByteArray l = lines[j];
            while (l.endsWith('\r')) {
                l.chop(1);
            }
            if (l.isEmpty()) {
                continue;
            }
            const int length = (l[0] - ' ') & 0x3F;
            int produced = 0;
            for (qsizetype k = 1; k < l.size() && produced < length; k += 4) {
                const auto at = [&](qsizetype n) {
                    return n < l.size() ? ((l[n] - ' ') & 0x3F) : 0;
                };
                const int a = at(k), b = at(k + 1), c = at(k + 2), d = at(k + 3);
                const char bytes[3] = {static_cast<char>((a << 2) | (b >> 4)),
                                       static_cast<char>(((b & 0xF) << 4) | (c >> 2)),
                                       static_cast<char>(((c & 0x3) << 6) | d)};
                for (int n = 0; n < 3 && produced < length; ++n, ++produced) {
                    data.append(bytes[n]);
                }
            }
        }
        const QByteArray rawName = line.mid(10).trimmed();
        result.files.append({mailtext::decodeHeader(rawName), data});
        i = end;
    }
    result.text = kept;
    return result;
}

QByteArray joinPartialPieces(const QList<QByteArray>& pieces)
{
    QByteArray whole;
    for (const QByteArray& piece : pieces) {
        whole += piece;
    }
    return whole;
}

// A header block (of the mail or of one of its parts) cut to the limits, or
// nothing when it is within them; what was cut is said in omitted.
std::optional<QByteArray> trimmedBlock(QByteArrayView block, int fields, QStringList& omitted)
{
    if (block.size() <= kMaxHeaderBytes && fields <= kMaxHeaderFields) {
        return std::nullopt;
    }
    static const QList<QByteArrayView> always = {"from",
                                                 "date",
                                                 "subject",
                                                 "to",
                                                 "cc",
                                                 "reply-to",
                                                 "message-id",
                                                 "mime-version",
                                                 "content-type",
                                                 "content-transfer-encoding",
                                                 "content-disposition"};
    QByteArray header;
    int kept = 0;
    int left = 0;
    for (qsizetype at = 0; at < block.size();) {
        // One field: its first line and every folded line after it.
        qsizetype fieldEnd = at;
        do {
            const qsizetype next = block.indexOf('\n', fieldEnd);
            fieldEnd = next < 0 ? block.size() : next + 1;
        } while (fieldEnd < block.size() && (block[fieldEnd] == ' ' || block[fieldEnd] == '\t'));
        const QByteArrayView field = block.sliced(at, fieldEnd - at);
        const qsizetype colon = field.indexOf(':');
        const QByteArray name =
            colon > 0 ? field.first(colon).trimmed().toByteArray().toLower() : QByteArray();
        const bool essential = always.contains(QByteArrayView(name));
        if (essential || (kept < kMaxHeaderFields && header.size() < kMaxHeaderBytes)) {
            header += field.size() > kMaxHeaderValue
                          ? field.first(kMaxHeaderValue).toByteArray() + "\r\n"
                          : field.toByteArray();
            ++kept;
        } else {
            ++left;
        }
        at = fieldEnd;
    }
    omitted << (left > 0 ? QStringLiteral("ヘッダーが大きすぎるため（%1 項目、%2 バイト）、"
                                          "%3 項目を省いて読みました。")
                               .arg(fields)
                               .arg(block.size())
                               .arg(left)
                         : QStringLiteral("ヘッダーが大きすぎるため（%1 バイト）、"
                                          "長い項目は先頭だけを読みました。")
                               .arg(block.size()));
    return header;
}

// The boundaries the mail's multiparts declare ("boundary=..."), at most 64.
QList<QByteArray> declaredBoundaries(const QByteArray& raw)
{
    QList<QByteArray> found;
    for (qsizetype eq = raw.indexOf('='); eq >= 0 && found.size() < 64;
         eq = raw.indexOf('=', eq + 1)) {
        if (eq < 8 || qstrnicmp(raw.constData() + eq - 8, "boundary", 8) != 0) {
            continue;
        }
        qsizetype at = eq + 1;
        const bool quoted = at < raw.size() && raw[at] == '"';
        at += quoted ? 1 : 0;
        qsizetype end = at;
        while (end < raw.size() && end - at < 70 &&
               (quoted ? raw[end] != '"' : !QByteArrayView(" \t\r\n;").contains(raw[end]))) {
            ++end;
        }
        if (end > at && !found.contains(raw.sliced(at, end - at))) {
            found.append(raw.sliced(at, end - at));
        }
    }
    return found;
}

// The mail within the limits, in one pass over its lines: the header block
// of the mail and of every part cut to kMaxHeaderBytes and kMaxHeaderFields,
// and nothing after part number kMaxParts. No mail is worth building more
// for; what was left out is said in omitted.
QByteArray boundedMail(const QByteArray& raw, QStringList& omitted)
{
    constexpr int kMaxParts = kMaxAttachments + kMaxExtraTexts + 100;
    const QList<QByteArray> boundaries = declaredBoundaries(raw);
    struct Edit {
        qsizetype from;
        qsizetype to;
        QByteArray with;
    };
    QList<Edit> edits;
    qsizetype cutAt = -1;
    int parts = 0;
    bool inHeader = true; // the mail's own header block comes first
    qsizetype headerStart = 0;
    int fields = 0;
    const auto endHeader = [&](qsizetype end) {
        if (auto trimmed = trimmedBlock(QByteArrayView(raw).sliced(headerStart, end - headerStart),
                                        fields, omitted)) {
            edits.append({headerStart, end, std::move(*trimmed)});
        }
        inHeader = false;
    };
    for (qsizetype at = 0; at < raw.size();) {
        const qsizetype next = raw.indexOf('\n', at);
        const qsizetype lineEnd = next < 0 ? raw.size() : next + 1;
        const QByteArrayView line = QByteArrayView(raw).sliced(at, lineEnd - at);
        bool boundary = false;
        if (line.startsWith("--")) {
            for (const QByteArray& b : boundaries) {
                if (line.sliced(2).startsWith(b)) {
                    boundary = true;
                    break;
                }
            }
        }
        if (boundary) {
            if (inHeader) {
                endHeader(at);
            }
            if (++parts > kMaxParts) {
                omitted << QStringLiteral("このメールは部分が多すぎるため、最初の %1 個だけを"
                                          "読みました。")
                               .arg(kMaxParts);
                cutAt = at;
                break;
            }
            inHeader = true;
            headerStart = lineEnd;
            fields = 0;
        } else if (inHeader) {
            if (line == "\r\n" || line == "\n") {
                endHeader(at);
            } else if (line[0] != ' ' && line[0] != '\t') {
                ++fields;
            }
        }
        at = lineEnd;
    }
    if (inHeader && cutAt < 0) {
        endHeader(raw.size());
    }
    if (edits.isEmpty() && cutAt < 0) {
        return raw;
    }
    QByteArray out;
    qsizetype from = 0;
    const qsizetype end = cutAt < 0 ? raw.size() : cutAt;
    for (const Edit& edit : edits) {
        out += QByteArrayView(raw).sliced(from, edit.from - from);
        out += edit.with;
        from = edit.to;
    }
    out += QByteArrayView(raw).sliced(from, end - from);
    return out;
}

namespace {

// Where the header block really starts: past blank or white-space lines
// (and an mbox "From " line) that some gateways and archives put before it,
// when a header field follows them. Otherwise the mail as it is.
qsizetype headerStart(const QByteArray& raw)
{
    static const QRegularExpression field(QStringLiteral("^[!-9;-~]+:"));
    qsizetype at = 0;
    bool skipped = false;
    while (at < raw.size()) {
        qsizetype end = raw.indexOf('\n', at);
        if (end < 0) {
            end = raw.size();
        }
        const QByteArrayView line = QByteArrayView(raw).sliced(at, end - at);
        const bool blank = line.trimmed().isEmpty();
        const bool fromLine = at == 0 && line.startsWith("From ");
        if (!blank && !fromLine) {
            return skipped && field
                                  .match(QString::fromLatin1(
                                      line.first(std::min<qsizetype>(line.size(), 80))))
                                  .hasMatch()
                       ? at
                       : 0;
        }
        skipped = true;
        at = end + 1;
    }
    return 0;
}

} // namespace

DecodedMail decodeMail(const QByteArray& original)
{
    initialiseGMime();
    DecodedMail mail;
    const qsizetype start = headerStart(original);
    const QByteArray raw = boundedMail(start > 0 ? original.sliced(start) : original, mail.omitted);
    GObjectPtr<GMimeStream> stream(
        g_mime_stream_mem_new_with_buffer(raw.constData(), static_cast<size_t>(raw.size())));
    GObjectPtr<GMimeParser> parser(g_mime_parser_new_with_stream(stream.p));
    GObjectPtr<GMimeMessage> message(g_mime_parser_construct_message(parser.p, nullptr));
    const auto withoutStructure = [&] {
        decodeWithoutStructure(raw, mail);
        for (const QString& note : mail.omitted) {
            mail.body += QStringLiteral("\r\n\r\n（") + note + QStringLiteral("）");
        }
        return mail;
    };
    if (!message.p) {
        return withoutStructure();
    }
    GMimeObject* top = GMIME_OBJECT(message.p);
    declaredCharset = firstCharset(raw);
    mail.subject = headerText(top, "Subject");
    mail.date = headerText(top, "Date");
    mail.from = headerText(top, "From");
    mail.to = headerText(top, "To");
    mail.cc = headerText(top, "Cc");
    mail.messageId = idField(top, "Message-ID");
    mail.references = idField(top, "References");

    GMimeObject* root = g_mime_message_get_mime_part(message.p);
    if (!root) {
        return withoutStructure();
    }
    const auto rawType = rawHeader(root, "Content-Type");
    const mailtext::HeaderValue type =
        rawType ? mailtext::parseHeaderValue(*rawType) : mailtext::HeaderValue{};
    if (type.value == "message/partial" && GMIME_IS_PART(root)) {
        PartialPiece piece;
        piece.id = type.params.value("id").toUtf8();
        piece.number = type.params.value("number").toInt();
        piece.total = type.params.value("total").toInt();
        piece.bytes = contentBytes(GMIME_PART(root));
        mail.partial = std::move(piece);
        return mail;
    }

    Walker walker(mail);
    walker.walk(root, 0);
    QString body = mail.body;
    for (const QString& extra : walker.extraTexts) {
        body += QStringLiteral("\n\n") + extra;
    }
    if (walker.droppedFiles > 0) {
        mail.omitted << QStringLiteral("添付ファイルが多すぎるため、%1 個のうち最初の %2 個だけを"
                                       "保存しました。")
                            .arg(mail.attachments.size() + walker.droppedFiles)
                            .arg(mail.attachments.size());
    }
    if (walker.droppedTexts > 0) {
        mail.omitted << QStringLiteral("本文の続きが多すぎるため、%1 個の文章を省きました。")
                            .arg(walker.droppedTexts);
    }
    for (const QString& note : mail.omitted) {
        body += QStringLiteral("\n\n（") + note + QStringLiteral("）");
    }
    mail.body = withCrlf(body);
    return mail;
}

std::optional<QByteArray> decodeBase64Lines(QByteArrayView encoded)
{
    static constexpr auto kValues = [] {
        std::array<signed char, 256> values{};
        values.fill(-1);
        const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        for (int i = 0; i < 64; ++i) {
            values[static_cast<unsigned char>(alphabet[i])] = static_cast<signed char>(i);
        }
        return values;
    }();
    const auto* in = reinterpret_cast<const unsigned char*>(encoded.data());
    const qsizetype n = encoded.size();
    QByteArray out(n / 4 * 3 + 3, Qt::Uninitialized);
    auto* o = reinterpret_cast<unsigned char*>(out.data());
    std::uint32_t group = 0;
    int inGroup = 0;
    qsizetype i = 0;
    while (i < n) {
        // Whole groups while the line lasts: the common case.
        while (inGroup == 0 && i + 4 <= n) {
            const int a = kValues[in[i]];
            const int b = kValues[in[i + 1]];
            const int c = kValues[in[i + 2]];
            const int d = kValues[in[i + 3]];
            if ((a | b | c | d) < 0) {
                break;
            }
            const std::uint32_t v =
                (static_cast<std::uint32_t>(a) << 18) | (static_cast<std::uint32_t>(b) << 12) |
                (static_cast<std::uint32_t>(c) << 6) | static_cast<std::uint32_t>(d);
            *o++ = static_cast<unsigned char>(v >> 16);
            *o++ = static_cast<unsigned char>(v >> 8);
            *o++ = static_cast<unsigned char>(v);
            i += 4;
        }
        if (i >= n) {
            break;
        }
        const unsigned char ch = in[i];
        if (const int value = kValues[ch]; value >= 0) {
            group = (group << 6) | static_cast<std::uint32_t>(value);
            if (++inGroup == 4) {
                *o++ = static_cast<unsigned char>(group >> 16);
                *o++ = static_cast<unsigned char>(group >> 8);
                *o++ = static_cast<unsigned char>(group);
                group = 0;
                inGroup = 0;
            }
            ++i;
        } else if (ch == '\n' || (ch == '\r' && i + 1 < n && in[i + 1] == '\n')) {
            ++i;
        } else if (ch == '=') {
            // Padding ends the data: "xx==" or "xxx=", then only line ends
            // and blanks.
            const int pads = inGroup == 2 ? 2 : inGroup == 3 ? 1 : 0;
            if (pads == 0) {
                return std::nullopt;
            }
            for (int p = 0; p < pads; ++p, ++i) {
                if (i >= n || in[i] != '=') {
                    return std::nullopt;
                }
            }
            for (; i < n; ++i) {
                if (in[i] != '\r' && in[i] != '\n' && in[i] != ' ' && in[i] != '\t') {
                    return std::nullopt;
                }
            }
            group <<= 6 * pads;
            *o++ = static_cast<unsigned char>(group >> 16);
            if (pads == 1) {
                *o++ = static_cast<unsigned char>(group >> 8);
            }
            inGroup = 0;
            break;
        } else if (ch == ' ' || ch == '\t') {
            // Blanks only at a line's end.
            qsizetype j = i;
            while (j < n && (in[j] == ' ' || in[j] == '\t')) {
                ++j;
            }
            if (j < n && in[j] != '\r' && in[j] != '\n') {
                return std::nullopt;
            }
            i = j;
        } else {
            return std::nullopt;
        }
    }
    if (inGroup != 0) {
        return std::nullopt;
    }
    out.truncate(o - reinterpret_cast<unsigned char*>(out.data()));
    return out;
}

} // namespace lumora::mime
