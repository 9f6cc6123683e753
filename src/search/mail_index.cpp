#include "search/mail_index.h"

#include "search/search_terms.h"

#include <QFile>

#include <sqlite3.h>

#include <algorithm>
#include <cstring>

namespace lumora::search {
namespace {

// The terms table keeps only what finds a mail, not its text (content='');
// each mail's text is kept compressed beside its key, for taking its terms
// out again when it goes. The terms come folded and separated by spaces
// (indexTerms), so the table only has to split them there: the ascii
// tokenizer does (it leaves every other character in the term), at a
// fraction of what unicode61 takes. Nothing ranks the matches, so no
// column sizes are kept.
const char* const kSchema =
    "CREATE TABLE IF NOT EXISTS mail(id INTEGER PRIMARY KEY, key BLOB UNIQUE NOT NULL,"
    " text BLOB NOT NULL);"
    "CREATE VIRTUAL TABLE IF NOT EXISTS terms USING fts5(subject, sender, body, files,"
    " content = '', columnsize = 0, tokenize = 'ascii tokenchars ''_''');";

// The layout of the tables; a file of another is made anew.
constexpr int kLayoutVersion = 4;
const char* const kSetVersion = "PRAGMA user_version = 4;";

// A mail's four texts, folded into one compressed value and back.
constexpr char16_t kSeparator = u'\x1f';

QByteArray packed(const IndexedMail& mail)
{
    const QString text =
        QStringList{mail.subject, mail.sender, mail.body, mail.files.join(u' ')}.join(kSeparator);
    return qCompress(text.toUtf8(), 1);
}

QStringList unpacked(const QByteArray& value)
{
    QStringList parts = QString::fromUtf8(qUncompress(value)).split(kSeparator);
    while (parts.size() < 4) {
        parts.append(QString());
    }
    return parts;
}

// A prepared statement, finalized when it goes.
class Statement {
public:
    Statement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &s_, nullptr); }
    ~Statement() { sqlite3_finalize(s_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    sqlite3_stmt* get() const { return s_; }
    explicit operator bool() const { return s_ != nullptr; }

    void bindText(int i, const QString& text)
    {
        const QByteArray utf8 = text.toUtf8();
        sqlite3_bind_text(s_, i, utf8.constData(), static_cast<int>(utf8.size()), SQLITE_TRANSIENT);
    }
    void bindText(int i, const QByteArray& utf8)
    {
        sqlite3_bind_text(s_, i, utf8.constData(), static_cast<int>(utf8.size()), SQLITE_TRANSIENT);
    }
    void bindBlob(int i, const QByteArray& bytes)
    {
        sqlite3_bind_blob(s_, i, bytes.constData(), static_cast<int>(bytes.size()),
                          SQLITE_TRANSIENT);
    }
    QByteArray blob(int column) const
    {
        const auto* data = static_cast<const char*>(sqlite3_column_blob(s_, column));
        return QByteArray(data, sqlite3_column_bytes(s_, column));
    }
    int step() { return sqlite3_step(s_); }
    void reset()
    {
        sqlite3_reset(s_);
        sqlite3_clear_bindings(s_);
    }

private:
    sqlite3_stmt* s_ = nullptr;
};

} // namespace

// The statements that add a mail, prepared once for the connection.
struct MailIndex::Adding {
    explicit Adding(sqlite3* db)
        : row(db, "INSERT OR IGNORE INTO mail(id, key, text) VALUES (?1, ?2, ?3);"),
          terms(db, "INSERT INTO terms(rowid, subject, sender, body, files)"
                    " VALUES (?1, ?2, ?3, ?4, ?5);")
    {
    }
    Statement row;
    Statement terms;
};

qint64 MailIndex::shortKey(const QByteArray& key)
{
    qint64 value = 0;
    std::memcpy(&value, key.constData(), std::min<size_t>(sizeof value, key.size()));
    return value;
}

MailIndex::MailIndex(QString path) : path_(std::move(path)) {}

MailIndex::~MailIndex()
{
    adding_.reset();
    sqlite3_close(db_);
}

Status MailIndex::failure(const QString& what) const
{
    return Status(StoreError::WriteFailed,
                  path_ + QStringLiteral(": ") + what + QStringLiteral(": ") +
                      QString::fromUtf8(db_ ? sqlite3_errmsg(db_) : "cannot open"));
}

Status MailIndex::exec(const char* sql)
{
    return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK
               ? Status::success()
               : failure(QString::fromUtf8(sql).left(40));
}

Status MailIndex::openOnce(Check check)
{
    adding_.reset();
    sqlite3_close(db_);
    db_ = nullptr;
    const QByteArray name = QFile::encodeName(path_);
    if (sqlite3_open_v2(name.constData(), &db_,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
        return failure(QStringLiteral("open"));
    }
    sqlite3_busy_timeout(db_, 5000);
    // A whole check would read the whole file; a quick one finds a file
    // that is not an index at all.
    Status status = exec("PRAGMA journal_mode = WAL;");
    if (status.ok()) {
        status = exec("PRAGMA synchronous = NORMAL;");
    }
    if (status.ok()) {
        // An index of another layout is made anew.
        Statement version(db_, "PRAGMA user_version;");
        if (version && version.step() == SQLITE_ROW &&
            sqlite3_column_int(version.get(), 0) != kLayoutVersion) {
            status = exec("DROP TABLE IF EXISTS terms; DROP TABLE IF EXISTS mail;");
            if (status.ok()) {
                status = exec(kSchema);
            }
            if (status.ok()) {
                status = exec(kSetVersion);
            }
        }
    }
    if (status.ok() && check == Check::Quick) {
        Statement quick(db_, "PRAGMA quick_check;");
        if (!quick || quick.step() != SQLITE_ROW ||
            QByteArray(reinterpret_cast<const char*>(sqlite3_column_text(quick.get(), 0))) !=
                "ok") {
            status = failure(QStringLiteral("damaged"));
        }
    }
    return status;
}

Status MailIndex::open(Check check)
{
    if (openOnce(check).ok()) {
        return Status::success();
    }
    // Damaged: the index is made again from the data files.
    adding_.reset();
    sqlite3_close(db_);
    db_ = nullptr;
    for (const QString& suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")}) {
        QFile::remove(path_ + suffix);
    }
    return openOnce(check);
}

Status MailIndex::openForReading()
{
    adding_.reset();
    sqlite3_close(db_);
    db_ = nullptr;
    if (!QFile::exists(path_)) {
        return Status(StoreError::NotFound, path_);
    }
    const QByteArray name = QFile::encodeName(path_);
    if (sqlite3_open_v2(name.constData(), &db_, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
        return failure(QStringLiteral("open"));
    }
    sqlite3_busy_timeout(db_, 5000);
    return Status::success();
}

Result<QSet<QByteArray>> MailIndex::keys()
{
    Statement all(db_, "SELECT key FROM mail;");
    if (!all) {
        return failure(QStringLiteral("keys"));
    }
    QSet<QByteArray> keys;
    int rc = SQLITE_ROW;
    while ((rc = all.step()) == SQLITE_ROW) {
        keys.insert(all.blob(0));
    }
    if (rc != SQLITE_DONE) {
        return failure(QStringLiteral("keys"));
    }
    return keys;
}

Status MailIndex::add(const QList<std::pair<QByteArray, IndexedMail>>& mails)
{
    if (Status begun = begin(); !begun.ok()) {
        return begun;
    }
    for (const auto& [key, mail] : mails) {
        if (Status inserted = insert(key, mail); !inserted.ok()) {
            rollback();
            return inserted;
        }
    }
    return commit();
}

Status MailIndex::begin()
{
    return exec("BEGIN IMMEDIATE;");
}

Status MailIndex::insert(const QByteArray& key, const IndexedMail& mail)
{
    if (!adding_) {
        adding_ = std::make_unique<Adding>(db_);
    }
    Statement& row = adding_->row;
    Statement& terms = adding_->terms;
    if (!row || !terms) {
        return failure(QStringLiteral("add"));
    }
    sqlite3_bind_int64(row.get(), 1, shortKey(key));
    row.bindBlob(2, key);
    row.bindBlob(3, packed(mail));
    const bool added = row.step() == SQLITE_DONE;
    row.reset();
    if (!added) {
        return failure(QStringLiteral("add"));
    }
    if (sqlite3_changes(db_) == 0) {
        return Status::success(); // indexed already
    }
    sqlite3_bind_int64(terms.get(), 1, shortKey(key));
    terms.bindText(2, indexTerms(mail.subject));
    terms.bindText(3, indexTerms(mail.sender));
    terms.bindText(4, indexTerms(mail.body));
    terms.bindText(5, indexTerms(mail.files.join(u' ')));
    const bool indexed = terms.step() == SQLITE_DONE;
    terms.reset();
    return indexed ? Status::success() : failure(QStringLiteral("add"));
}

Status MailIndex::commit()
{
    return exec("COMMIT;");
}

void MailIndex::rollback()
{
    (void)exec("ROLLBACK;");
}

Status MailIndex::remove(const QList<QByteArray>& keys)
{
    if (keys.isEmpty()) {
        return Status::success();
    }
    if (Status begin = exec("BEGIN IMMEDIATE;"); !begin.ok()) {
        return begin;
    }
    Statement id(db_, "SELECT id, text FROM mail WHERE key = ?1;");
    // A table without its text forgets a mail by being told its terms.
    Statement terms(db_, "INSERT INTO terms(terms, rowid, subject, sender, body, files)"
                         " VALUES ('delete', ?1, ?2, ?3, ?4, ?5);");
    Statement mail(db_, "DELETE FROM mail WHERE id = ?1;");
    bool ok = id && terms && mail;
    for (qsizetype i = 0; ok && i < keys.size(); ++i) {
        id.bindBlob(1, keys[i]);
        if (id.step() == SQLITE_ROW) {
            const sqlite3_int64 row = sqlite3_column_int64(id.get(), 0);
            const QStringList text = unpacked(id.blob(1));
            sqlite3_bind_int64(terms.get(), 1, row);
            for (int column = 0; column < 4; ++column) {
                terms.bindText(column + 2, indexTerms(text[column]));
            }
            sqlite3_bind_int64(mail.get(), 1, row);
            ok = terms.step() == SQLITE_DONE && mail.step() == SQLITE_DONE;
            terms.reset();
            mail.reset();
        }
        id.reset();
    }
    if (!ok) {
        const Status failed = failure(QStringLiteral("remove"));
        (void)exec("ROLLBACK;");
        return failed;
    }
    return exec("COMMIT;");
}

Status MailIndex::clear()
{
    return exec("BEGIN IMMEDIATE; DELETE FROM mail;"
                " INSERT INTO terms(terms) VALUES ('delete-all'); COMMIT;");
}

Result<QSet<qint64>> MailIndex::find(const QString& typed)
{
    const QString query = matchQuery(typed);
    QSet<qint64> found;
    if (query.isEmpty()) {
        return found;
    }
    Statement match(db_, "SELECT rowid FROM terms WHERE terms MATCH ?1;");
    if (!match) {
        // An index being made for the first time has no tables yet.
        if (QByteArray(sqlite3_errmsg(db_)).startsWith("no such table")) {
            return found;
        }
        return failure(QStringLiteral("find"));
    }
    match.bindText(1, query);
    int rc = SQLITE_ROW;
    while ((rc = match.step()) == SQLITE_ROW) {
        found.insert(sqlite3_column_int64(match.get(), 0));
    }
    if (rc != SQLITE_DONE) {
        return failure(QStringLiteral("find"));
    }
    return found;
}

} // namespace lumora::search
