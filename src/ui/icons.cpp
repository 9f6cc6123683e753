#include "ui/icons.h"

#include <QStringList>

namespace lumora::ui {
namespace {

void findThemes()
{
    // Without a desktop session Qt looks for themes in its resources only.
    QStringList paths = QIcon::themeSearchPaths();
    QStringList dataDirs = qEnvironmentVariable("XDG_DATA_DIRS").split(u':', Qt::SkipEmptyParts);
    if (dataDirs.isEmpty()) {
        dataDirs = {QStringLiteral("/usr/local/share"), QStringLiteral("/usr/share")};
    }
    for (const QString& dir : dataDirs) {
        const QString icons = dir + QStringLiteral("/icons");
        if (!paths.contains(icons)) {
            paths.append(icons);
        }
    }
    QIcon::setThemeSearchPaths(paths);
    const QString tango = QStringLiteral("Tango");
    if (QIcon::themeName().isEmpty() || QIcon::themeName() == QLatin1String("hicolor")) {
        QIcon::setThemeName(tango);
    } else {
        QIcon::setFallbackThemeName(tango);
    }
}

} // namespace

QIcon themeIcon(const QString& name)
{
    static const bool found = [] {
        findThemes();
        return true;
    }();
    (void)found;
    return QIcon::fromTheme(name);
}

} // namespace lumora::ui
