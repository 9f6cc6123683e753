#include "store/app_settings.h"

#include "store/private_profile.h"

#include <array>

namespace lumora {
namespace {

constexpr std::array<IniKeyInfo, 8> kKeys = {{
    {IniKey::Explanations, "NUMBER", 0},
    {IniKey::AutoShow, "NUMBER2", 0},
    {IniKey::KeepOnServer, "NUMBER3", 0},
    {IniKey::IntervalMinutes, "NUMBER4", 0},
    {IniKey::ButtonSet, "NUMBER5", 0},
    {IniKey::Background, "NAME", 0},
    {IniKey::SendOption, "NUMBER14", 0},
    {IniKey::ComposeOption, "NUMBER23", 0},
}};

} // namespace

const IniKeyInfo& iniKeyInfo(IniKey key)
{
    for (const IniKeyInfo& info : kKeys) {
        if (info.key == key) {
            return info;
        }
    }
    return kKeys.front();
}

QString iniKeyName(IniKey key)
{
    return QString::fromLatin1(iniKeyInfo(key).name);
}

int AppSettings::readInt(IniKey key) const
{
    return profile::readInt(path_, kIniSection, iniKeyName(key), iniKeyInfo(key).defaultInt);
}

QString AppSettings::readString(IniKey key) const
{
    return profile::readString(path_, kIniSection, iniKeyName(key));
}

Status AppSettings::write(IniKey key, const QString& value) const
{
    return profile::writeString(path_, kIniSection, iniKeyName(key), value);
}

Status AppSettings::write(const QList<std::pair<IniKey, QString>>& values) const
{
    QList<profile::Entry> entries;
    for (const auto& [key, value] : values) {
        entries.append({iniKeyName(key), value});
    }
    return profile::writeStrings(path_, kIniSection, entries);
}

Status AppSettings::writeFlag(IniKey key, bool checked) const
{
    return write(key, checked ? QStringLiteral("1") : QStringLiteral("0"));
}

} // namespace lumora
