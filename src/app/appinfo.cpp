#include "app/appinfo.h"

#include "version.h"

namespace kestrella {

QString AppInfo::title()
{
    return QStringLiteral("Kestrella");
}

int AppInfo::major()
{
    return KESTRELLA_VERSION_MAJOR;
}

int AppInfo::minor()
{
    return KESTRELLA_VERSION_MINOR;
}

int AppInfo::revision()
{
    return KESTRELLA_VERSION_PATCH;
}

QString AppInfo::versionText()
{
    return QStringLiteral("Version %1.%2.%3").arg(major()).arg(minor()).arg(revision());
}

} // namespace kestrella
