#include "app/bundled_files.h"

#include "store/file_io.h"
#include "store/text_codec.h"

#include <QFile>
#include <QFileInfo>

namespace lumora {
namespace {

Status copyResource(const QString& resource, const QString& target)
{
    if (QFileInfo::exists(target)) {
        return Status::success();
    }
    QFile source(resource);
    if (!source.open(QIODevice::ReadOnly)) {
        return {StoreError::NotFound, resource};
    }
    return fileio::writeAtomically(target, source.readAll());
}

} // namespace

Status installBundledFiles(const AppPaths& paths)
{
    Status status = paths.createFolders();
    if (!status.ok()) {
        return status;
    }
    for (int set = 1; set <= 3; ++set) {
        for (int n = 1; n <= 6; ++n) {
            status = copyResource(QStringLiteral(":/bundled/button/%1/%2.jpg").arg(set).arg(n),
                                  paths.buttonImage(set, n));
            if (!status.ok()) {
                return status;
            }
        }
    }
    for (const bool on : {true, false}) {
        status = copyResource(on ? QStringLiteral(":/bundled/lamp/Red.gif")
                                 : QStringLiteral(":/bundled/lamp/Green.gif"),
                              paths.lampFile(on));
        if (!status.ok()) {
            return status;
        }
    }
    // The emoticon page is kept as UTF-8 in the sources and stored in CP932
    // with CR LF, as the picker reads and writes it.
    const QString emoticons = paths.emoticonFile();
    if (!QFileInfo::exists(emoticons)) {
        QFile source(QStringLiteral(":/bundled/Kao1.txt"));
        if (!source.open(QIODevice::ReadOnly)) {
            return {StoreError::NotFound, source.fileName()};
        }
        QString page = QString::fromUtf8(source.readAll());
        page.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        page.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
        status = fileio::writeAtomically(emoticons, text::encodeCp932(page));
        if (!status.ok()) {
            return status;
        }
    }
    return Status::success();
}

} // namespace lumora
