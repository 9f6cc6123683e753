// lumora-search-bench APP_FOLDER [MBOX_OF_NEW_MAIL]
//
// Times the search across every stored mail on an application folder whose
// mails have their originals: the index made from nothing; for each query
// (one, two and four Japanese characters, and a word nothing holds) the
// time from the search to the painted list of matches, against a scan of
// every original with the same matching (what a client without an index
// pays); the index's size against the originals'. With an mbox of new mail,
// it is imported and the time the index then takes to follow is set against
// the import's. Prints a table and the ratios.

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
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTreeView>

#include <algorithm>
#include <atomic>
#include <cstdio>

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
        // New mail: imported, then the index follows.
        lumora::MailLibraryOptions options;
        options.partialFolder = paths.partialFolder();
        const auto library = lumora::createMailLibrary(options);
        std::atomic_bool stop{false};
        clock.restart();
        lumora::Result<lumora::exchange::MailSource> opened =
            lumora::exchange::MailSource::open(args[2]);
        if (!opened.ok()) {
            std::fprintf(stderr, "cannot read %s\n", qUtf8Printable(args[2]));
            return 1;
        }
        lumora::exchange::MailSource source = std::move(opened).value();
        const lumora::ImportOutcome report = lumora::importMails(
            *library, paths, [&source, &stop] { return source.next(&stop); }, &stop);
        const double importSeconds = clock.elapsed() / 1000.0;
        clock.restart();
        if (!search.update().ok()) {
            std::fprintf(stderr, "the index could not follow\n");
            return 1;
        }
        const double followSeconds = clock.elapsed() / 1000.0;
        std::printf("\n%d new mails: stored in %.2f s, index followed in %.2f s (+%.0f %%)\n",
                    report.imported, importSeconds, followSeconds,
                    100.0 * followSeconds / importSeconds);
    }
    return 0;
}
