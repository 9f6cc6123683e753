#include "emoticons/emoticon_page.h"

#include "store/text_file.h"

#include <QDir>
#include <QFileInfo>

namespace lumora::emoticons {

Result<QString> readPage(const QString& path)
{
    return textfile::read(path);
}

QString storedText(const QString& text)
{
    QString stored = textfile::withCrLf(text);
    qsizetype end = stored.size();
    while (end > 0 && (stored[end - 1] == u'\r' || stored[end - 1] == u'\n')) {
        --end;
    }
    stored.truncate(end);
    if (!stored.isEmpty()) {
        stored += QStringLiteral("\r\n");
    }
    return stored;
}

Status writePage(const QString& path, const QString& text)
{
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder)) {
        return {StoreError::OpenFailed, folder};
    }
    return textfile::write(path, storedText(text));
}

} // namespace lumora::emoticons
