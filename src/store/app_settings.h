#pragma once

#include "store/status.h"

#include <QList>
#include <QString>

#include <utility>

// The settings file ini.ini: every key in one table with its section and
// default, read and written with private-profile semantics.
namespace lumora {

enum class IniKey {
    Explanations,    // "NUMBER": explanation option of the main window, 1/0
    AutoShow,        // "NUMBER2": open the viewer after a receive that found mail, 1/0
    KeepOnServer,    // "NUMBER3": received mail stays on the server, 1/0
    IntervalMinutes, // "NUMBER4": minutes between automatic checks, 0 = off
    ButtonSet,       // "NUMBER5": button image set 1, 2, 3, or 0/empty for the designed images
    Background,      // "NAME": full path of the main window's background picture
    SendOption,      // "NUMBER14": read before sending, not acted on
    ComposeOption,   // "NUMBER23": read when the compose window loads, not acted on
};

struct IniKeyInfo {
    IniKey key;
    const char* name;
    int defaultInt;
};

const IniKeyInfo& iniKeyInfo(IniKey key);
QString iniKeyName(IniKey key);

inline const QString kIniSection = QStringLiteral("EXEINI");

class AppSettings {
public:
    explicit AppSettings(QString path) : path_(std::move(path)) {}
    const QString& path() const { return path_; }

    int readInt(IniKey key) const;
    QString readString(IniKey key) const;
    Status write(IniKey key, const QString& value) const;
    // Several keys in one rewrite of the file, in the order given.
    Status write(const QList<std::pair<IniKey, QString>>& values) const;
    // "1" for a checked box, "0" for a cleared one.
    Status writeFlag(IniKey key, bool checked) const;

private:
    QString path_;
};

} // namespace lumora
