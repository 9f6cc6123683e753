#pragma once

#include "app/app_folder.h"
#include "store/instance_lock.h"

#include <cstdio>

// The application folder a headless tool works in, readied and locked as
// the program does; false (with the reason printed) when it cannot be used.
inline bool openToolFolder(const QString& folder, lumora::AppPaths& paths,
                           lumora::InstanceLock& lock)
{
    paths = lumora::AppPaths::at(folder);
    if (const lumora::Status prepared = lumora::prepareAppFolder(paths, lock); !prepared.ok()) {
        std::fprintf(stderr, "cannot use %s: %s\n", qUtf8Printable(folder),
                     qUtf8Printable(prepared.detail()));
        return false;
    }
    return true;
}
