// lumora-search-bench APP_FOLDER [MBOX_OF_NEW_MAIL]
//
// Times the search across every stored mail on an application folder whose
// mails have their originals: the index made from nothing; for each query
// (one, two and four Japanese characters, and a word nothing holds) the
// time from the search to the painted list of matches, against a scan of
// every original with the same matching (what a client without an index
// pays); the index's size against the originals'. With an mbox of new mail,
// it is stored into copies of the folder the way a receive stores mail, with
// the index kept in step and without an index, and the times are set side
// by side. Prints a table and the ratios.

#include "mail/mail_import.h"
#include "mail/mail_library.h"
#include "search/mail_search.h"
#include "search/search_terms.h"
#include "store/originals.h"
#include "store/records.h"
#include "tool_folder.h"
#include "viewer/mail_exchange.h"
#include "viewer/mail_list_model.h"
#include "viewer/mail_source.h"
#include "viewer/original_mail.h"

#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTreeView>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <unistd.h>

namespace {

qint64 folderBytes(const QString& folder)
{
    qint64 total = 0;
    QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        total += QFileInfo(it.next()).size();
    }
    return total;
}

double medianMs(QList<double> times)
{
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// Every original read, decoded and folded, and matched as the index does.
int scan(const lumora::AppPaths& paths, const QString& typed)
{
    const lumora::RecordFile file = lumora::mailFile(paths.receivedFile());
    const lumora::Originals originals(paths.originalsFolder());
    int found = 0;
    for (qint64 n = 1; n <= file.wholeCount(); ++n) {
        const lumora::Result<QByteArray> record = file.read(n);
        const std::optional<QByteArray> raw =
            record.ok() ? originals.read(n, record.value()) : std::nullopt;
        if (!raw) {
            continue;
        }
        const lumora::viewer::OriginalMail mail = lumora::viewer::readOriginal(*raw);
        const QString text = lumora::search::fold(mail.subject + u'\n' + mail.from + u'\n' +
                                                  mail.body + u'\n' + mail.attachments.join(u' '));
        found += lumora::search::matchesText(text, typed) ? 1 : 0;
    }
    return found;
}

// Copies the application folder, for a run that must start from it as it is.
bool copyFolder(const QString& from, const QString& to)
{
    QDir(to).removeRecursively();
    QDirIterator it(from, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        const QString target = to + file.mid(from.size());
        if (!QDir().mkpath(QFileInfo(target).path()) || !QFile::copy(file, target)) {
            return false;
        }
    }
    return true;
}

// Imports the mbox into a copy of the folder, the way a receive stores mail,
// and brings the index in step as the program does after a receive (with
// the intake keeping it in step, nothing is left to add). Without the
// index, a folder stands where the index file would be: the intake cannot
// open it and stores the mail alone. The seconds taken, or a negative value.
double storeNewMail(const QString& base, const QString& mbox, bool index)
{
    const QString folder = base + (index ? QStringLiteral("-with") : QStringLiteral("-without"));
    if (!copyFolder(base, folder)) {
        return -1;
    }
    lumora::AppPaths paths;
    lumora::InstanceLock lock;
    if (!openToolFolder(folder, paths, lock)) {
        return -1;
    }
    if (!index) {
        QFile::remove(paths.searchIndexFile());
        QDir().mkpath(paths.searchIndexFile());
    }
    ::sync(); // the copy's writes are not the store's to wait for
    lumora::MailLibraryOptions options;
    options.partialFolder = paths.partialFolder();
    const auto library = lumora::createMailLibrary(options);
    std::atomic_bool stop{false};
    QElapsedTimer clock;
    clock.start();
    lumora::Result<lumora::exchange::MailSource> opened = lumora::exchange::MailSource::open(mbox);
    if (!opened.ok()) {
        return -1;
    }
    lumora::exchange::MailSource source = std::move(opened).value();
    const lumora::ImportOutcome report = lumora::importMails(
        *library, paths, [&source, &stop] { return source.next(&stop); }, &stop);
    if (report.imported == 0 || (index && !lumora::search::MailSearch(paths).update().ok())) {
        return -1;
    }
    return clock.elapsed() / 1000.0;
}

// New mail stored with the index kept in step against the same without an
// index, three runs each, alternating; medians.
int follow(const lumora::AppPaths& paths, const QString& folder, const QString& mbox)
{
    // The index in step with the folder first, as a user's is.
    if (!lumora::search::MailSearch(paths).update().ok()) {
        return 1;
    }
    QList<double> with;
    QList<double> without;
    for (int run = 0; run < 3; ++run) {
        without.append(storeNewMail(folder, mbox, false));
        with.append(storeNewMail(folder, mbox, true));
        if (with.last() < 0 || without.last() < 0) {
            std::fprintf(stderr, "new mail could not be stored\n");
            return 1;
        }
    }
    const double a = medianMs(with);
    const double b = medianMs(without);
    std::printf("\nnew mail stored (median of 3): without an index %.2f s, with the index kept "
                "in step %.2f s: %.2fx\n",
                b, a, a / b);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: lumora-search-bench APP_FOLDER [MBOX_OF_NEW_MAIL]\n");
        return 2;
    }
    lumora::AppPaths paths;
    lumora::InstanceLock lock;
    if (!openToolFolder(args[1], paths, lock)) {
        return 1;
    }
    const qint64 mails = lumora::mailFile(paths.receivedFile()).wholeCount();
    lumora::search::MailSearch search(paths);
    for (const QString& suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")}) {
        QFile::remove(paths.searchIndexFile() + suffix);
    }
    QElapsedTimer clock;
    clock.start();
    if (!search.update().ok()) {
        std::fprintf(stderr, "the index could not be made\n");
        return 1;
    }
    const double buildSeconds = clock.elapsed() / 1000.0;
    const qint64 indexBytes = QFileInfo(paths.searchIndexFile()).size() +
                              QFileInfo(paths.searchIndexFile() + QStringLiteral("-wal")).size();
    const qint64 originalBytes = folderBytes(paths.originalsFolder());
    std::printf("%lld mails; index made from nothing in %.1f s\n", mails, buildSeconds);
    std::printf("index %.1f MB, originals %.1f MB: ratio %.2f\n", indexBytes / 1e6,
                originalBytes / 1e6, static_cast<double>(indexBytes) / originalBytes);

    // The list as the viewer has it, painted offscreen.
    lumora::MailListModel model(paths.receivedFile());
    model.reload();
    QTreeView list;
    list.setModel(&model);
    list.resize(640, 300);
    list.show();

    std::printf("\n%-22s %8s %10s %10s %8s\n", "query", "matches", "index ms", "scan ms", "ratio");
    const QStringList queries = {QStringLiteral("会"), QStringLiteral("会議"),
                                 QStringLiteral("打ち合わ"), QStringLiteral("存在しない言葉")};
    for (const QString& typed : queries) {
        QList<double> times;
        int matches = 0;
        for (int run = 0; run < 5; ++run) {
            clock.restart();
            const lumora::Result<QList<int>> found = search.find(typed);
            matches = found.ok() ? static_cast<int>(found.value().size()) : -1;
            model.setFilter(found.ok() ? found.value() : QList<int>());
            (void)list.grab(); // painted
            times.append(clock.nsecsElapsed() / 1e6);
        }
        model.setFilter(std::nullopt);
        clock.restart();
        const int scanned = scan(paths, typed);
        const double scanMs = clock.nsecsElapsed() / 1e6;
        const double indexMs = medianMs(times);
        std::printf("%-22s %8d %10.1f %10.0f %7.0fx%s\n", qPrintable(typed), matches, indexMs,
                    scanMs, scanMs / indexMs, scanned == matches ? "" : "  (scan found other)");
    }

    if (args.size() > 2) {
        return follow(paths, args[1], args[2]);
    }
    return 0;
}
