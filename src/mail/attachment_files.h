#pragma once

#include "store/status.h"

#include <QByteArray>
#include <QString>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

// Writing received attachments into the attachment folder. A name from a
// mail is the sender's choice and is never trusted as a path.
namespace lumora::attachments {

// A file name that stays inside the folder and works on Windows too: only the
// last path element, no control characters or characters Windows forbids, no
// "." or ".." or trailing dots and spaces, no device names such as "CON",
// at most 200 bytes of UTF-8 with the extension kept. Never empty.
QString safeFileName(const QString& name);

// Writes the bytes under the safe form of the name, or under "name (2).ext",
// "name (3).ext" ... when that is taken: an existing file is never
// overwritten, and the name appears only once the file is complete. The
// caller flushes the file system before relying on it. Returns the path.
Result<QString> writeNew(const QString& folder, const QString& name, const QByteArray& data);

// Moves a complete file (on the same file system) into the folder under the
// name as writeNew() would give it. Returns the new path.
Result<QString> moveNew(const QString& folder, const QString& name, const QString& path);

// Removes the temporary files a crash in writeNew() left in the folder.
void removeLeftovers(const QString& folder);

// While one lives, writeNew() into its folder takes files made ahead by a
// thread of its own: making a file can cost a millisecond on a file system
// that skips recently freed inodes, and a receive writes hundreds while it
// decodes. Files are made from the first one asked for on, so a receive
// without attachments (or without mail) makes none. They have no name until
// writeNew() gives them one; those not taken vanish when it ends.
class FilesAhead {
public:
    explicit FilesAhead(const QString& folder);
    ~FilesAhead();
    FilesAhead(const FilesAhead&) = delete;
    FilesAhead& operator=(const FilesAhead&) = delete;

    // A file made ahead for folder, open for writing, or -1.
    static int take(const QString& folder);

private:
    void run();

    QByteArray folder_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<int> ready_;
    bool asked_ = false;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace lumora::attachments
