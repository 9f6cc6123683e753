#include "store/status.h"

namespace lumora {

QString storeErrorName(StoreError error)
{
    switch (error) {
    case StoreError::None:
        return QStringLiteral("none");
    case StoreError::NotFound:
        return QStringLiteral("not found");
    case StoreError::OpenFailed:
        return QStringLiteral("open failed");
    case StoreError::ReadFailed:
        return QStringLiteral("read failed");
    case StoreError::WriteFailed:
        return QStringLiteral("write failed");
    case StoreError::EndOfFile:
        return QStringLiteral("end of file");
    case StoreError::BadArgument:
        return QStringLiteral("bad argument");
    case StoreError::Interrupted:
        return QStringLiteral("interrupted");
    case StoreError::Locked:
        return QStringLiteral("locked");
    case StoreError::Changed:
        return QStringLiteral("changed");
    case StoreError::Full:
        return QStringLiteral("full");
    }
    return QStringLiteral("unknown");
}

} // namespace lumora
