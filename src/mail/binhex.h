#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <optional>

// BinHex 4.0, in which Mac mailers (Eudora, early Outlook for the Mac)
// sent files: a header line "(This file must be converted with BinHex 4.0)"
// and the file's name, data and resource forks in 64-character lines
// between two colons, run-length coded and checked with CRCs.
namespace lumora::mime {

struct BinHexFile {
    QByteArray name; // as the Mac wrote it (Mac Roman, or Shift_JIS on a Japanese Mac)
    QByteArray data; // the data fork; the resource fork means nothing here
};

// Where the next BinHex block in text lies, from its header line to the
// closing colon (and the line end after it): [begin, end). Nothing when
// there is none.
std::optional<std::pair<qsizetype, qsizetype>> findBinHex(QByteArrayView text, qsizetype from = 0);

// The file of a BinHex block (the header line may be there or not).
// Nothing when it is not well formed or a CRC does not match. Linear in the
// text's size; never larger than the text decodes to.
std::optional<BinHexFile> decodeBinHex(QByteArrayView text);

} // namespace lumora::mime
