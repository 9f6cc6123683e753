#pragma once

#include "store/instance_lock.h"
#include "store/paths.h"
#include "store/status.h"

#include <QStringList>

#include <future>

// Readies the application folder before the main window loads.
namespace lumora {

// Creates the folders and puts the files that come with the program in
// place, takes the folder's lock (Locked when another copy of the program
// holds it), and repairs record files that a crash left in the middle of a
// deletion.
// Files a repair set aside instead of deleting them are added to kept.
// With bundled, the files that come with the program are put in place by a
// thread of their own while the caller goes on (a first start makes two dozen
// files, each flushed): bundled is their outcome, to be waited for before
// anything reads them.
Status prepareAppFolder(const AppPaths& paths, InstanceLock& lock, QStringList* kept = nullptr,
                        std::future<Status>* bundled = nullptr);

} // namespace lumora
