#include "mail/tls_memory.h"

#include "store/file_io.h"

#include <QList>

namespace lumora {
namespace {

QByteArray lineFor(const QString& host, int port)
{
    return host.toLower().toUtf8() + ' ' + QByteArray::number(port);
}

} // namespace

bool TlsMemory::spokeTlsBefore(const QString& host, int port) const
{
    if (path_.isEmpty()) {
        return false;
    }
    const Result<QByteArray> text = fileio::readAll(path_);
    if (!text.ok()) {
        return false;
    }
    const QByteArray wanted = lineFor(host, port);
    for (const QByteArray& line : text.value().split('\n')) {
        if (line.trimmed() == wanted) {
            return true;
        }
    }
    return false;
}

Status TlsMemory::remember(const QString& host, int port) const
{
    if (path_.isEmpty() || spokeTlsBefore(host, port)) {
        return Status::success();
    }
    const Result<QByteArray> old = fileio::readAll(path_);
    QByteArray text = old.ok() ? old.value() : QByteArray();
    if (!text.isEmpty() && !text.endsWith('\n')) {
        text += '\n';
    }
    text += lineFor(host, port) + '\n';
    fileio::WriteOptions options;
    options.ownerOnly = true;
    return fileio::writeAtomically(path_, text, options);
}

} // namespace lumora
