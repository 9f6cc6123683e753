#include "viewer/mail_order.h"

#include <QCollator>
#include <QLocale>
#include <QRegularExpression>

#include <algorithm>
#include <numeric>

namespace lumora::viewer {

SortOrder nextOrder(SortOrder now, int column)
{
    if (column < 0 || column > 2) {
        return now;
    }
    const auto clicked = static_cast<SortColumn>(column);
    if (now.column != clicked) {
        return {clicked, false};
    }
    if (!now.descending) {
        return {clicked, true};
    }
    return {};
}

std::optional<QDateTime> mailDate(const QString& field)
{
    // Comments go, and runs of spaces become one.
    static const QRegularExpression comment(QStringLiteral("\\([^)]*\\)"));
    QString text = field;
    text.remove(comment);
    text = text.simplified();
    if (text.isEmpty()) {
        return std::nullopt;
    }
    QDateTime when = QDateTime::fromString(text, Qt::RFC2822Date);
    if (!when.isValid()) {
        // Some mailers write the zone as a name ("JST", "GMT") or leave it out.
        static const QRegularExpression named(QStringLiteral("\\s+([A-Za-z]{1,5})$"));
        const QRegularExpressionMatch zone = named.match(text);
        if (zone.hasMatch()) {
            const QString name = zone.captured(1).toUpper();
            const QString offset =
                name == QLatin1String("JST") ? QStringLiteral("+0900") : QStringLiteral("+0000");
            when = QDateTime::fromString(text.left(zone.capturedStart()) + u' ' + offset,
                                         Qt::RFC2822Date);
        }
    }
    if (!when.isValid()) {
        return std::nullopt;
    }
    return when.toUTC();
}

QList<int> sortedRecords(const QList<ListedMail>& mails, SortOrder order)
{
    QList<int> records(mails.size());
    std::iota(records.begin(), records.end(), 0);
    if (order.column == SortColumn::None) {
        return records;
    }
    const bool down = order.descending;
    if (order.column == SortColumn::Date) {
        QList<std::optional<QDateTime>> dates;
        dates.reserve(mails.size());
        for (const ListedMail& mail : mails) {
            dates.append(mailDate(mail.date));
        }
        std::stable_sort(records.begin(), records.end(), [&](int a, int b) {
            const auto& da = dates[a];
            const auto& db = dates[b];
            if (!da || !db) {
                return da.has_value() && !db.has_value(); // undated last
            }
            return down ? *db < *da : *da < *db;
        });
        return records;
    }
    QCollator collator{QLocale(QLocale::Japanese, QLocale::Japan)};
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    collator.setNumericMode(true);
    QList<QCollatorSortKey> keys;
    keys.reserve(mails.size());
    for (const ListedMail& mail : mails) {
        const QString& text = order.column == SortColumn::Subject ? mail.subject : mail.sender;
        keys.append(collator.sortKey(text.trimmed()));
    }
    std::stable_sort(records.begin(), records.end(), [&](int a, int b) {
        const int c = keys[a].compare(keys[b]);
        return down ? c > 0 : c < 0;
    });
    return records;
}

QList<int> orderWithout(const QList<int>& order, int deleted)
{
    QList<int> kept;
    kept.reserve(order.size());
    for (const int record : order) {
        if (record != deleted) {
            kept.append(record > deleted ? record - 1 : record);
        }
    }
    return kept;
}

} // namespace lumora::viewer
