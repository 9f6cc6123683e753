#pragma once

#include "store/status.h"

#include <QString>

namespace lumora {

// Keeps a second copy of the program away from the same application folder:
// two copies appending to the same record files at once would corrupt them.
// The lock is an advisory lock on a file in the data folder; the system drops
// it when the process ends, however it ends.
class InstanceLock {
public:
    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // Locked when another process holds the folder.
    Status acquire(const QString& lockFilePath);
    bool held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

} // namespace lumora
