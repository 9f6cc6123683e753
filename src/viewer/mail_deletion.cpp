#include "viewer/mail_deletion.h"

#include "store/file_io.h"

namespace lumora::viewer {

Status deleteMail(const RecordFile& file, qint64 n, const QString& tempPath,
                  const CompactHook& hook)
{
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
    return status;
}

Status deleteAllMail(const RecordFile& file)
{
    return fileio::writeAtomically(file.path(), {});
}

} // namespace lumora::viewer
