#pragma once

#include <QString>

namespace kestrella {

// Title and version shown by the About box and used as the caption of every message box that names none.
struct AppInfo
{
    static QString title();
    static int major();
    static int minor();
    static int revision();
    // "Version 1.0.2"
    static QString versionText();
};

// The home site's root page; its help and list pages hang below it. A reserved placeholder host until the project
// has a site of its own.
inline const QString HomeSiteAddress = QStringLiteral("http://kestrella.example");

} // namespace kestrella
