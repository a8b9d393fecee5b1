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

} // namespace kestrella
