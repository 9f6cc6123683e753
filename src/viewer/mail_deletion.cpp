#include "viewer/mail_deletion.h"

#include "store/file_io.h"

namespace lumora::viewer {

Status deleteMail(const RecordFile& file, qint64 n, const QString& tempPath,
                  const Originals& originals, const CompactHook& hook)
{
    const Result<QByteArray> deleted = file.read(n);
    if (Status begun = originals.begin(file); !begun.ok()) {
        return begun;
    }
    Status status = file.remove(n, tempPath, hook);
    if (!status.ok() && status.error() != StoreError::Interrupted) {
        // The data file is still the old one (the temporary file is removed
        // on failure): give the record its flag back.
        Result<QByteArray> bytes = file.read(n);
        if (bytes.ok() && readInt16(bytes.value(), file.layout().flagOffset) == 0) {
            QByteArray record = std::move(bytes).value();
            writeInt16(record, file.layout().flagOffset, 1);
            (void)file.write(n, record);
        }
    }
    if (status.ok()) {
        if (deleted.ok() && originals.removeIfUnused(deleted.value(), file).ok()) {
            originals.end();
        }
    } else if (status.error() != StoreError::Interrupted) {
        originals.end(); // nothing changed
    }
    return status;
}

Status deleteAllMail(const RecordFile& file, const Originals& originals)
{
    if (Status begun = originals.begin(file); !begun.ok()) {
        return begun;
    }
    Status status = fileio::writeAtomically(file.path(), {});
    if (status.ok()) {
        originals.removeAllBut({});
        originals.end();
    }
    return status;
}

} // namespace lumora::viewer
