#pragma once

#include "store/status.h"

#include <QString>
#include <QStringList>

// Where the program's files live.
//
// Everything lies under one application folder: the executable's own folder
// when a data folder "★MailData" sits beside it (a portable install, or a
// folder brought over from an earlier installation), otherwise the user's data
// folder ($XDG_DATA_HOME/lumora, by default ~/.local/share/lumora). Names are
// looked up without regard to letter case, so a folder copied from a
// case-insensitive file system works whatever spelling it carries.
namespace lumora {

namespace names {
inline const QString kDataFolder = QStringLiteral("★MailData");
inline const QString kSettingsFile = QStringLiteral("ini.ini");
inline const QString kAccountFile = QStringLiteral("iniIdPass.ini");
inline const QString kServerFile = QStringLiteral("kurodo.ini");
inline const QString kReceivedFile = QStringLiteral("krddata2.data");
inline const QString kReceivedTemp = QStringLiteral("KRDDATA2.TMP");
inline const QString kHeldFile = QStringLiteral("krddata10.data");
inline const QString kHeldTemp = QStringLiteral("KRDDATA10.TMP");
inline const QString kAddressFile = QStringLiteral("krddata20.data");
inline const QString kAddressTemp = QStringLiteral("KRDDATA20.TMP");
inline const QString kRedLamp = QStringLiteral("Red.gif");
inline const QString kGreenLamp = QStringLiteral("Green.gif");
inline const QString kAttachmentFolder = QStringLiteral("添付フォルダ");
inline const QString kTempText = QStringLiteral("0.txt");
inline const QString kQuickSaveFolder = QStringLiteral("■TextQuickSave");
inline const QString kEmoticonFolder = QStringLiteral("顔文字データ");
inline const QString kEmoticonFile = QStringLiteral("Kao1.txt");
inline const QString kButtonFolder = QStringLiteral("Button");
inline const QString kLockFile = QStringLiteral(".lumora.lock");
// The unique IDs of mails already stored, and the pieces of mails sent in
// parts that wait for the rest.
inline const QString kUidFile = QStringLiteral("uidl.dat");
inline const QString kPartialFolder = QStringLiteral("partial");
// The server certificates the user chose to trust.
inline const QString kTrustFile = QStringLiteral("trusted-servers.txt");
// The POP3 servers that have spoken TLS with the program.
inline const QString kTlsMemoryFile = QStringLiteral("tls-servers.txt");
// The received mails as they came, one file each.
inline const QString kOriginalsFolder = QStringLiteral("messages");
// The index of every stored mail's words, made from the files above.
inline const QString kSearchIndexFile = QStringLiteral("search-index.sqlite");
} // namespace names

// The path under base for the relative path, each component matched against
// what exists without regard to case; components that do not exist keep the
// spelling given. Components are separated by '/' or '\'.
QString findPath(const QString& base, const QString& relative);

class AppPaths {
public:
    // The application folder for an executable in executableDir: that folder
    // when a data folder lies beside it, else the per-user data folder made
    // from xdgDataHome (empty when unset) and home.
    static AppPaths locate(const QString& executableDir, const QString& xdgDataHome,
                           const QString& home);
    // The application folder given outright (tests, tools).
    static AppPaths at(const QString& appFolder);

    const QString& appFolder() const { return appFolder_; }
    bool portable() const { return portable_; }

    // A path under the application folder, found without regard to case.
    QString path(const QString& relative) const { return findPath(appFolder_, relative); }

    QString dataFolder() const { return path(names::kDataFolder); }
    QString dataFile(const QString& name) const { return path(names::kDataFolder + u'/' + name); }
    QString settingsFile() const { return dataFile(names::kSettingsFile); }
    QString accountFile() const { return dataFile(names::kAccountFile); }
    QString receivedFile() const { return dataFile(names::kReceivedFile); }
    QString receivedTemp() const { return dataFile(names::kReceivedTemp); }
    QString heldFile() const { return dataFile(names::kHeldFile); }
    QString heldTemp() const { return dataFile(names::kHeldTemp); }
    QString addressFile() const { return dataFile(names::kAddressFile); }
    QString addressTemp() const { return dataFile(names::kAddressTemp); }
    QString lampFile(bool on) const { return dataFile(on ? names::kRedLamp : names::kGreenLamp); }
    QString uidFile() const { return dataFile(names::kUidFile); }
    QString partialFolder() const { return dataFile(names::kPartialFolder); }
    QString trustFile() const { return dataFile(names::kTrustFile); }
    QString tlsMemoryFile() const { return dataFile(names::kTlsMemoryFile); }
    QString originalsFolder() const { return dataFile(names::kOriginalsFolder); }
    QString searchIndexFile() const { return dataFile(names::kSearchIndexFile); }
    QString attachmentFolder() const { return path(names::kAttachmentFolder); }
    QString quickSaveFolder() const { return path(names::kQuickSaveFolder); }
    QString emoticonFile() const
    {
        return path(names::kEmoticonFolder + u'/' + names::kEmoticonFile);
    }
    // Image n (1 to 6) of button set (1 to 3).
    QString buttonImage(int set, int n) const;

    // The server file, opened by its bare name in the current working folder.
    static QString serverFile();
    // The folder the program works in when started in current: current when
    // a server file lies there (the user started it beside one), else the
    // application folder, as a program started from the desktop menu finds
    // itself in its own folder.
    QString workingFolder(const QString& current) const;

    // Creates the folders the program keeps its files in, where missing.
    Status createFolders() const;

private:
    QString appFolder_;
    bool portable_ = false;
};

} // namespace lumora
