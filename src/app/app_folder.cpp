#include "app/app_folder.h"

#include "app/bundled_files.h"
#include "store/mail_store.h"
#include "store/records.h"

#include <QDir>
#include <QFile>

#include <sys/stat.h>

namespace lumora {
namespace {

Status plainFileOrNone(const QString& path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) {
        return Status::success(); // made when first written
    }
    if (!S_ISREG(st.st_mode)) {
        return {StoreError::OpenFailed,
                QStringLiteral("%1 は通常のファイルではありません。").arg(path)};
    }
    return Status::success();
}

Status folderOrNone(const QString& path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) == 0 && !S_ISDIR(st.st_mode)) {
        return {StoreError::OpenFailed, QStringLiteral("%1 はフォルダではありません。").arg(path)};
    }
    return Status::success();
}

} // namespace

Status prepareAppFolder(const AppPaths& paths, InstanceLock& lock, QStringList* kept,
                        std::future<Status>* bundled)
{
    // The lock comes first, so that a second copy turned away has changed
    // nothing; it lives in the data folder, which must exist for it.
    if (!QDir().mkpath(paths.dataFolder())) {
        return {StoreError::OpenFailed, paths.dataFolder()};
    }
    Status status = lock.acquire(paths.dataFile(names::kLockFile));
    if (!status.ok()) {
        return status;
    }
    if (bundled) {
        *bundled = std::async(std::launch::async, [paths] { return installBundledFiles(paths); });
    } else if (status = installBundledFiles(paths); !status.ok()) {
        return status;
    }
    // A data file that is not a plain file (a link to a device, a folder)
    // would swallow mail or hang every read: refused before anything is
    // written to it.
    for (const QString& path :
         {paths.receivedFile(), paths.heldFile(), paths.addressFile(), paths.uidFile()}) {
        if (Status plain = plainFileOrNone(path); !plain.ok()) {
            return plain;
        }
    }
    if (Status folder = folderOrNone(paths.originalsFolder()); !folder.ok()) {
        return folder;
    }
    // Deletions a crash stopped are completed (the user asked for them), and
    // what an older program left half done is repaired.
    // The map of originals is brought in step by the first writer, off the
    // window's thread: a folder of an older version makes that read every
    // record once.
    const Result<RecordFile::Recovery> received = MailStore(paths).completeStoppedDeletion();
    if (!received.ok()) {
        return received.status();
    }
    if (kept && !received.value().keptFile.isEmpty()) {
        kept->append(received.value().keptFile);
    }
    const struct {
        QString path;
        RecordLayout layout;
        QString temp;
    } others[] = {
        {paths.heldFile(), MailRecord::kLayout, paths.heldTemp()},
        {paths.addressFile(), AddressRecord::kLayout, paths.addressTemp()},
    };
    for (const auto& [path, layout, temp] : others) {
        const std::shared_ptr<RecordOwner> owner = RecordOwner::of(path, layout);
        const RecordOwner::Turn turn = owner->take(Writer::Repair);
        const auto repaired = completeDeletion(turn, temp);
        if (!repaired.ok()) {
            return repaired.status();
        }
        if (kept && !repaired.value().keptFile.isEmpty()) {
            kept->append(repaired.value().keptFile);
        }
    }
    return Status::success();
}

} // namespace lumora
