#pragma once

#include "store/status.h"

#include <QString>

#include <cstdint>

// The one mail account the program serves, and its two files:
//   kurodo.ini    (servers, address, APOP) - plain CP932 lines in the current
//                 working folder: "SMTP=", "POP3=", "MAIL=", "APOP=";
//   iniIdPass.ini (ID and password) - a private-profile file in the data
//                 folder, section "EXEINI", keys "NAME", "NAME2", "NAME3".
// The password is kept in plain text, so iniIdPass.ini is created and
// rewritten readable by its owner only.
namespace lumora {

struct AccountSettings {
    QString SmtpServer;
    QString Pop3Server;
    QString MailAddress;
    std::int16_t ApopFlag = 0; // 0 plain log-in, otherwise APOP
    QString AccountId;
    QString AccountPass;
    // The ID and password were confirmed without keeping them on disk: every
    // receive of this run logs in with AccountId and AccountPass instead of
    // reading the account file.
    bool credentialsForThisRun = false;
};

namespace account {

inline constexpr qsizetype kServerValueLimit = 100;

// Fills the server fields from the server file. A missing file changes
// nothing. Each line is matched on its first five characters, with case, in
// the order SMTP=, POP3=, MAIL=, APOP=; a value keeps at most 100 characters;
// a later line wins over an earlier one.
void readServerFile(const QString& path, AccountSettings& settings);

// Writes the four lines of the server file, whole. BadArgument, and nothing
// written, when a value holds a character the file's charset cannot keep.
Status writeServerFile(const QString& path, const AccountSettings& settings);

struct Credentials {
    QString id;
    QString password;
};

// "NAME" and "NAME2" of the account file; empty where missing.
Credentials readCredentials(const QString& path);

// The ID-and-password dialog's confirmation: with save checked, writes
// "NAME", "NAME2" and "NAME3"="1"; without, writes "NAME3"="0" and removes a
// stored password ("NAME2"): the box means "keep on disk". The ID stored
// before stays. BadArgument, and nothing written, when the ID or the
// password holds a character the file's charset cannot keep: a password
// that silently changed on its way to disk would fail every log-in.
Status writeCredentials(const QString& path, const Credentials& credentials, bool save);

} // namespace account
} // namespace lumora
