#include "settings/account_settings.h"

#include "store/app_settings.h"
#include "store/file_io.h"
#include "store/numeric_text.h"
#include "store/private_profile.h"
#include "store/text_codec.h"

#include <QByteArrayList>

namespace lumora::account {
namespace {

const QString kIdKey = QStringLiteral("NAME");
const QString kPasswordKey = QStringLiteral("NAME2");
const QString kSavedKey = QStringLiteral("NAME3");

fileio::WriteOptions ownerOnly()
{
    fileio::WriteOptions options;
    options.ownerOnly = true;
    return options;
}

} // namespace

void readServerFile(const QString& path, AccountSettings& settings)
{
    auto data = fileio::readAll(path);
    if (!data.ok()) {
        return;
    }
    const QByteArrayList lines = data.value().split('\n');
    for (QByteArray raw : lines) {
        if (raw.endsWith('\r')) {
            raw.chop(1);
        }
        const QString line = text::decodeCp932(raw);
        const QString prefix = line.left(5);
        const QString value = line.mid(5, kServerValueLimit);
        if (prefix == QLatin1String("SMTP=")) {
            settings.SmtpServer = value;
        } else if (prefix == QLatin1String("POP3=")) {
            settings.Pop3Server = value;
        } else if (prefix == QLatin1String("MAIL=")) {
            settings.MailAddress = value;
        } else if (prefix == QLatin1String("APOP=")) {
            settings.ApopFlag = text::toInt16HalfEven(text::leadingNumber(value));
        }
    }
}

Status writeServerFile(const QString& path, const AccountSettings& settings)
{
    for (const QString& value : {settings.SmtpServer, settings.Pop3Server, settings.MailAddress}) {
        if (!text::fitsCp932(value)) {
            return {StoreError::BadArgument, value};
        }
    }
    const QString contents =
        QStringLiteral("SMTP=") + settings.SmtpServer + QStringLiteral("\r\nPOP3=") +
        settings.Pop3Server + QStringLiteral("\r\nMAIL=") + settings.MailAddress +
        QStringLiteral("\r\nAPOP=") + QString::number(settings.ApopFlag) + QStringLiteral("\r\n");
    return fileio::writeAtomically(path, text::encodeCp932(contents));
}

Credentials readCredentials(const QString& path)
{
    return {profile::readString(path, kIniSection, kIdKey),
            profile::readString(path, kIniSection, kPasswordKey)};
}

Status writeCredentials(const QString& path, const Credentials& credentials, bool save)
{
    if (!save) {
        // Not kept on disk: a password stored before goes too.
        return profile::writeStrings(path, kIniSection,
                                     {{kPasswordKey, {}, true}, {kSavedKey, QStringLiteral("0")}},
                                     ownerOnly());
    }
    if (!text::fitsCp932(credentials.id) || !text::fitsCp932(credentials.password)) {
        return {StoreError::BadArgument, QStringLiteral("ID or password")};
    }
    // One rewrite: the ID never lands on disk without its password.
    return profile::writeStrings(path, kIniSection,
                                 {{kIdKey, credentials.id},
                                  {kPasswordKey, credentials.password},
                                  {kSavedKey, QStringLiteral("1")}},
                                 ownerOnly());
}

} // namespace lumora::account
