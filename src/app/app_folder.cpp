#include "app/app_folder.h"

#include "app/bundled_files.h"
#include "store/records.h"

namespace lumora {

Status prepareAppFolder(const AppPaths& paths, InstanceLock& lock)
{
    Status status = installBundledFiles(paths);
    if (!status.ok()) {
        return status;
    }
    status = lock.acquire(paths.dataFile(names::kLockFile));
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
    }
    return Status::success();
}

} // namespace lumora
