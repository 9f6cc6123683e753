#include "store/text_file.h"

#include "store/file_io.h"
#include "store/text_codec.h"

#include <QStringDecoder>

namespace lumora::textfile {
namespace {

const QByteArray kUtf8Mark("\xEF\xBB\xBF");

bool isAscii(const QByteArray& bytes)
{
    for (const char c : bytes) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            return false;
        }
    }
    return true;
}

} // namespace

QByteArray encode(const QString& text)
{
    if (text::fitsCp932(text)) {
        return text::encodeCp932(text);
    }
    return kUtf8Mark + text.toUtf8();
}

QString decode(const QByteArray& bytes)
{
    if (bytes.startsWith(kUtf8Mark)) {
        return QString::fromUtf8(QByteArrayView(bytes).sliced(kUtf8Mark.size()));
    }
    if (!isAscii(bytes)) {
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        QString decoded = utf8.decode(bytes);
        if (!utf8.hasError()) {
            return decoded;
        }
    }
    return text::decodeCp932(bytes);
}

Status write(const QString& path, const QString& text)
{
    return fileio::writeAtomically(path, encode(text));
}

Result<QString> read(const QString& path)
{
    Result<QByteArray> bytes = fileio::readAll(path);
    if (!bytes.ok()) {
        return bytes.status();
    }
    return decode(bytes.value());
}

QString withCrLf(const QString& text)
{
    QString out;
    out.reserve(text.size() + text.size() / 32);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'\r') {
            out += QStringLiteral("\r\n");
            if (i + 1 < text.size() && text[i + 1] == u'\n') {
                ++i;
            }
        } else if (c == u'\n') {
            out += QStringLiteral("\r\n");
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace lumora::textfile
