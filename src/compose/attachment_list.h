#pragma once

#include <QString>
#include <QStringList>

#include <functional>

// The files chosen to go with a mail, in the order chosen. The window shows
// them joined by "," in its attachment box; the list itself is what is sent,
// so a path holding "," is still one file.
namespace lumora::compose {

using FileExists = std::function<bool(const QString& path)>;
// A regular file or anything else that exists at the path.
bool pathExists(const QString& path);

class AttachmentList {
public:
    const QStringList& paths() const { return paths_; }
    bool isEmpty() const { return paths_.isEmpty(); }
    // The text of the attachment box: the paths joined by ",".
    QString joined() const { return paths_.join(QLatin1Char(',')); }
    // The file names without their folders, for the list box.
    QStringList titles() const;

    void set(const QString& path) { paths_ = {path}; }
    void add(const QString& path) { paths_.append(path); }
    void clear() { paths_.clear(); }

    // Takes the box's text as the user left it. When it is still the joined
    // list nothing changes; otherwise it is split at the commas so that each
    // piece names an existing file where possible.
    void takeText(const QString& text, const FileExists& exists = pathExists);

private:
    QStringList paths_;
};

// The pieces of a comma-separated list of paths: commas inside a name that
// exists stay in it; pieces that name no file stay as typed (trimmed), so
// the send can say which file is missing. Empty pieces are dropped.
QStringList splitAttachmentText(const QString& text, const FileExists& exists = pathExists);

} // namespace lumora::compose
