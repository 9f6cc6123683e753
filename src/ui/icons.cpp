#include "ui/icons.h"

namespace lumora::ui {

QIcon themeIcon(const QString& name)
{
    static const bool fallbackSet = [] {
        QIcon::setFallbackThemeName(QStringLiteral("Tango"));
        return true;
    }();
    (void)fallbackSet;
    return QIcon::fromTheme(name);
}

} // namespace lumora::ui
