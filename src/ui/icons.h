#pragma once

#include <QIcon>
#include <QString>

namespace lumora::ui {

// An icon by its freedesktop name ("document-new", "edit-cut" ...), from the
// desktop's icon theme, or from the Tango theme the program is installed
// with when the desktop's theme has none.
QIcon themeIcon(const QString& name);

} // namespace lumora::ui
