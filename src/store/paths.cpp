#include "store/paths.h"

#include <QDir>
#include <QFileInfo>

namespace lumora {

QString findPath(const QString& base, const QString& relative)
{
    // Either separator, as a path written on Windows may have it; no regular
    // expression, which would bring its engine in at every start.
    QString current = base;
    QStringList parts;
    qsizetype from = 0;
    for (qsizetype i = 0; i <= relative.size(); ++i) {
        if (i == relative.size() || relative[i] == u'/' || relative[i] == u'\\') {
            if (i > from) {
                parts.append(relative.sliced(from, i - from));
            }
            from = i + 1;
        }
    }
    for (const QString& part : parts) {
        QString next = current + u'/' + part;
        if (!QFileInfo::exists(next)) {
            const QDir dir(current);
            const QStringList entries = dir.entryList(QDir::AllEntries | QDir::Hidden |
                                                      QDir::System | QDir::NoDotAndDotDot);
            for (const QString& entry : entries) {
                if (entry.compare(part, Qt::CaseInsensitive) == 0) {
                    next = current + u'/' + entry;
                    break;
                }
            }
        }
        current = next;
    }
    return current;
}

AppPaths AppPaths::locate(const QString& executableDir, const QString& xdgDataHome,
                          const QString& home)
{
    AppPaths paths;
    const QString beside = findPath(executableDir, names::kDataFolder);
    if (QFileInfo(beside).isDir()) {
        paths.appFolder_ = QDir(executableDir).absolutePath();
        paths.portable_ = true;
        return paths;
    }
    // A relative XDG_DATA_HOME is invalid under the XDG base directory rules: ignore it.
    const QString dataHome = !xdgDataHome.isEmpty() && QDir::isAbsolutePath(xdgDataHome)
                                 ? xdgDataHome
                                 : home + QStringLiteral("/.local/share");
    paths.appFolder_ = QDir(dataHome).absolutePath() + QStringLiteral("/lumora");
    return paths;
}

AppPaths AppPaths::at(const QString& appFolder)
{
    AppPaths paths;
    paths.appFolder_ = QDir(appFolder).absolutePath();
    paths.portable_ = true;
    return paths;
}

QString AppPaths::buttonImage(int set, int n) const
{
    return path(names::kButtonFolder + u'/' + QString::number(set) + u'/' + QString::number(n) +
                QStringLiteral(".jpg"));
}

QString AppPaths::serverFile()
{
    return findPath(QDir::currentPath(), names::kServerFile);
}

QString AppPaths::workingFolder(const QString& current) const
{
    return QFileInfo::exists(findPath(current, names::kServerFile)) ? current : appFolder_;
}

Status AppPaths::createFolders() const
{
    QStringList folders = {names::kDataFolder, names::kAttachmentFolder, names::kQuickSaveFolder,
                           names::kEmoticonFolder};
    for (int set = 1; set <= 3; ++set) {
        folders << names::kButtonFolder + u'/' + QString::number(set);
    }
    for (const QString& folder : folders) {
        const QString full = path(folder);
        if (!QDir().mkpath(full)) {
            return {StoreError::OpenFailed, full};
        }
    }
    return Status::success();
}

} // namespace lumora
