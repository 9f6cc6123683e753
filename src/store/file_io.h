#pragma once

#include "store/status.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <condition_variable>

#include <functional>
#include <mutex>
#include <thread>

#include <sys/types.h>

// Small, careful file operations shared by every file the program keeps.
namespace lumora::fileio {

// Points at which a whole-file rewrite can be stopped in tests, to show that
// a crash at that moment leaves the old or the new contents, never a mix.
enum class WriteStep { TempCreated, TempWritten, TempSynced, Renamed };

// Called before each step; returning false stops the operation on the spot,
// as if the process had died there.
using WriteHook = std::function<bool(WriteStep)>;

struct WriteOptions {
    // Permissions of a newly created file; an existing file keeps its own
    // unless ownerOnly asks for 0600.
    bool ownerOnly = false;
    WriteHook hook;
};

// Replaces the file's contents: writes a temporary file beside it, flushes it
// to disk, renames it over the file and flushes the folder.
Status writeAtomically(const QString& path, const QByteArray& contents,
                       const WriteOptions& options = {});

// The whole file, or NotFound / ReadFailed.
Result<QByteArray> readAll(const QString& path);
// The same for a file chosen by the user: only a plain file (a pipe or a
// device would hang or never end: BadArgument) of at most maxBytes (Full);
// NotFound, or OpenFailed when it cannot be read. The detail says why in
// Japanese.
Result<QByteArray> readPlainFile(const QString& path, qint64 maxBytes);

// Writes all the bytes to the descriptor, going on after interruptions;
// false on an error (errno tells which).
[[nodiscard]] bool writeFully(int fd, const char* data, qsizetype size);
// The same on a socket, without the signal a closed other end would raise.
[[nodiscard]] bool sendFully(int fd, const char* data, qsizetype size);
// Reads exactly size bytes, going on after interruptions; false on an error
// or when the other end closes first.
[[nodiscard]] bool readFully(int fd, char* data, qsizetype size);
// The same at an offset, leaving the file's position alone.
[[nodiscard]] bool writeFullyAt(int fd, const char* data, qsizetype size, off_t offset);

// Copies bytes from one file to another at the given offsets, in the kernel
// where it can; false on an error (errno tells which).
[[nodiscard]] bool copyRange(int from, off_t fromOffset, int to, off_t toOffset, qint64 size);

// Flushes a folder's entry list to disk, so that a rename in it survives a crash.
void syncFolder(const QString& folder);

// Flushes everything written to the file system that holds the path: the
// one flush after a run of writes made with Flush::Later.
[[nodiscard]] bool syncFileSystem(const QString& path);
// The same for each path's file system, each file system once.
[[nodiscard]] bool syncFileSystems(const QStringList& paths);

// Gets a long run of writes made with Flush::Later onto the disk while the
// run goes on: every kStepBytes reported, a thread of its own flushes the
// folders' file systems, so that the one flush at the end, which the run
// waits for, finds little left to write. Only the flush at the end counts
// for what is on the disk; these ones only save it time, and their failures
// are left to it.
class FlushAhead {
public:
    static constexpr qint64 kStepBytes = 8 * 1024 * 1024;

    explicit FlushAhead(QStringList folders);
    ~FlushAhead();
    FlushAhead(const FlushAhead&) = delete;
    FlushAhead& operator=(const FlushAhead&) = delete;

    // bytes more were written (not flushed).
    void wrote(qint64 bytes);
    // The flushes started so far.
    int flushes() const;

private:
    void run();

    QStringList folders_;
    mutable std::mutex mutex_;
    std::condition_variable wanted_;
    qint64 unflushed_ = 0;
    bool asked_ = false;
    bool closing_ = false;
    int flushes_ = 0;
    std::thread thread_;
};

} // namespace lumora::fileio
