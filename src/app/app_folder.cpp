#include "app/app_folder.h"

#include "app/bundled_files.h"
#include "store/records.h"

#include <QDir>

namespace lumora {

Status prepareAppFolder(const AppPaths& paths, InstanceLock& lock, QStringList* kept)
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
    status = installBundledFiles(paths);
    if (!status.ok()) {
        return status;
    }
    const struct {
        RecordFile file;
        QString temp;
    } files[] = {
        {mailFile(paths.receivedFile()), paths.receivedTemp()},
        {mailFile(paths.heldFile()), paths.heldTemp()},
        {addressFile(paths.addressFile()), paths.addressTemp()},
    };
    for (const auto& [file, temp] : files) {
        const auto repaired = file.recover(temp);
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
