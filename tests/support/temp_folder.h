#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

namespace lumora::test {

// A throw-away folder, with helpers to put bytes into files and read them.
class TempFolder {
public:
    TempFolder() { dir_.setAutoRemove(true); }
    QString path() const { return dir_.path(); }
    QString file(const QString& relative) const { return dir_.path() + u'/' + relative; }

    void write(const QString& relative, const QByteArray& bytes) const
    {
        const QString full = file(relative);
        QDir().mkpath(full.section(u'/', 0, -2));
        QFile f(full);
        if (f.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            f.write(bytes);
        }
    }
    QByteArray read(const QString& relative) const
    {
        QFile f(file(relative));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    bool exists(const QString& relative) const { return QFile::exists(file(relative)); }

private:
    QTemporaryDir dir_;
};

} // namespace lumora::test
