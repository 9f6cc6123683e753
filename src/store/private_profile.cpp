#include "store/private_profile.h"

#include "store/numeric_text.h"
#include "store/text_codec.h"

#include <QList>

#include <optional>

namespace lumora::profile {
namespace {

struct Line {
    QByteArray raw; // the line's bytes without its line end, kept as they were
    QString text;   // the same decoded
};

QList<Line> splitLines(const QByteArray& data)
{
    QList<Line> lines;
    qsizetype start = 0;
    while (start < data.size()) {
        qsizetype end = data.indexOf('\n', start);
        const bool last = end < 0;
        if (last) {
            end = data.size();
        }
        QByteArray raw = data.mid(start, end - start);
        if (raw.endsWith('\r')) {
            raw.chop(1);
        }
        lines.append({raw, text::decodeCp932(raw)});
        start = end + 1;
    }
    return lines;
}

QString trimBlanks(const QString& s)
{
    qsizetype b = 0;
    qsizetype e = s.size();
    while (b < e && (s[b] == QLatin1Char(' ') || s[b] == QLatin1Char('\t'))) {
        ++b;
    }
    while (e > b && (s[e - 1] == QLatin1Char(' ') || s[e - 1] == QLatin1Char('\t'))) {
        --e;
    }
    return s.mid(b, e - b);
}

// The section name of a "[name]" line.
std::optional<QString> sectionName(const QString& line)
{
    const QString t = trimBlanks(line);
    if (!t.startsWith(QLatin1Char('['))) {
        return std::nullopt;
    }
    const qsizetype close = t.indexOf(QLatin1Char(']'));
    if (close < 0) {
        return std::nullopt;
    }
    return trimBlanks(t.mid(1, close - 1));
}

struct KeyValue {
    QString key;
    QString value;
};

std::optional<KeyValue> keyValue(const QString& line)
{
    const QString t = trimBlanks(line);
    if (t.isEmpty() || t.startsWith(QLatin1Char(';'))) {
        return std::nullopt;
    }
    const qsizetype eq = t.indexOf(QLatin1Char('='));
    if (eq < 0) {
        return std::nullopt;
    }
    return KeyValue{trimBlanks(t.left(eq)), trimBlanks(t.mid(eq + 1))};
}

bool sameName(const QString& a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// Where a key sits in a file: the section's header line, the key's line and the
// last key line of the section (-1 where there is none).
struct Location {
    qsizetype section = -1;
    qsizetype key = -1;
    qsizetype lastInSection = -1;
};

Location locate(const QList<Line>& lines, const QString& section, const QString& key)
{
    Location loc;
    bool inSection = false;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (const auto name = sectionName(lines[i].text)) {
            // Only the first section of the name counts, as on Windows.
            if (loc.section >= 0 && inSection) {
                break;
            }
            inSection = sameName(*name, section);
            if (inSection) {
                loc.section = i;
                loc.lastInSection = i;
            }
            continue;
        }
        if (!inSection) {
            continue;
        }
        if (const auto kv = keyValue(lines[i].text)) {
            loc.lastInSection = i;
            if (loc.key < 0 && sameName(kv->key, key)) {
                loc.key = i;
            }
        }
    }
    return loc;
}

std::optional<QString> rawValue(const QString& path, const QString& section, const QString& key)
{
    auto data = fileio::readAll(path);
    if (!data.ok()) {
        return std::nullopt;
    }
    const QList<Line> lines = splitLines(data.value());
    const Location loc = locate(lines, section, key);
    if (loc.key < 0) {
        return std::nullopt;
    }
    return keyValue(lines[loc.key].text)->value;
}

} // namespace

QString readString(const QString& path, const QString& section, const QString& key,
                   const QString& fallback)
{
    const auto value = rawValue(path, section, key);
    if (!value) {
        return text::decodeCp932(text::cutCp932(text::encodeCp932(fallback), kStringLimitBytes));
    }
    QString v = *value;
    if (v.size() >= 2 && (v.front() == QLatin1Char('"') || v.front() == QLatin1Char('\'')) &&
        v.back() == v.front()) {
        v = v.mid(1, v.size() - 2);
    }
    // Values are cut in bytes, as the 256-byte buffer of the original calls
    // did; cutting at a character boundary keeps a cut value readable.
    return text::decodeCp932(text::cutCp932(text::encodeCp932(v), kStringLimitBytes));
}

int readInt(const QString& path, const QString& section, const QString& key, int fallback)
{
    const auto value = rawValue(path, section, key);
    if (!value || value->isEmpty()) {
        return fallback;
    }
    return text::leadingInteger(*value);
}

Status writeStrings(const QString& path, const QString& section, const QList<Entry>& entries,
                    const fileio::WriteOptions& options)
{
    auto existing = fileio::readAll(path);
    if (!existing.ok() && existing.status().error() != StoreError::NotFound) {
        return existing.status();
    }
    QList<Line> lines = existing.ok() ? splitLines(existing.value()) : QList<Line>{};

    const auto makeLine = [](const QString& t) {
        return Line{text::encodeCp932(t), t};
    };
    for (const Entry& entry : entries) {
        const Location loc = locate(lines, section, entry.key);
        if (entry.remove) {
            // Every line of the key, so that no older value comes back.
            for (Location at = loc; at.key >= 0; at = locate(lines, section, entry.key)) {
                lines.removeAt(at.key);
            }
        } else if (loc.key >= 0) {
            // Keep the key as spelled in the file; replace its value only.
            const QString stored = keyValue(lines[loc.key].text)->key;
            lines[loc.key] = makeLine(stored + u'=' + entry.value);
        } else if (loc.section >= 0) {
            lines.insert(loc.lastInSection + 1, makeLine(entry.key + u'=' + entry.value));
        } else {
            lines.append(makeLine(u'[' + section + u']'));
            lines.append(makeLine(entry.key + u'=' + entry.value));
        }
    }

    QByteArray out;
    for (const Line& line : lines) {
        out += line.raw;
        out += "\r\n";
    }
    return fileio::writeAtomically(path, out, options);
}

Status writeString(const QString& path, const QString& section, const QString& key,
                   const QString& value, const fileio::WriteOptions& options)
{
    return writeStrings(path, section, {{key, value}}, options);
}

} // namespace lumora::profile
