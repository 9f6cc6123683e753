#include "store/instance_lock.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace lumora {

InstanceLock::~InstanceLock()
{
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

Status InstanceLock::acquire(const QString& lockFilePath)
{
    const int fd =
        ::open(QFile::encodeName(lockFilePath).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        return {StoreError::OpenFailed,
                lockFilePath + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno))};
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        ::close(fd);
        if (err == EWOULDBLOCK) {
            return {StoreError::Locked, lockFilePath};
        }
        return {StoreError::OpenFailed,
                lockFilePath + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(err))};
    }
    fd_ = fd;
    return Status::success();
}

} // namespace lumora
