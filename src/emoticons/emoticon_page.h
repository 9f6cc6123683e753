#pragma once

#include "store/status.h"

#include <QString>

// The emoticon page, Kao1.txt: free text the user edits in the picker, read
// at every opening and written back at every closing. It is CP932 with CR LF
// like the program's other text files, or UTF-8 with a byte-order mark when
// it holds a character CP932 cannot keep.
namespace lumora::emoticons {

// The page's text as stored; NotFound when the file does not exist.
Result<QString> readPage(const QString& path);

// The file's text for the picker's text: CR LF line ends and exactly one line
// end after the last line, however many the text ends with, so that opening
// and closing the picker leaves the file as it was. An empty text stays empty.
QString storedText(const QString& text);

// Replaces the page atomically, creating its folder when it is missing.
Status writePage(const QString& path, const QString& text);

} // namespace lumora::emoticons
