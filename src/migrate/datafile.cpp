#include "migrate/datafile.h"

#include <QFile>
#include <QFileInfo>

namespace kestrella {

DataFileKind detectDataFile(const QByteArray& head, bool exists)
{
    if (!exists || head.isEmpty())
        return DataFileKind::Missing;
    if (head.startsWith(QByteArrayView("SQLite format 3\0", 16)))
        return DataFileKind::Sqlite;
    // An Access file names its engine at offset 4, NUL-terminated.
    const QByteArrayView engine = QByteArrayView(head).sliced(qMin<qsizetype>(4, head.size()));
    if (engine.startsWith(QByteArrayView("Standard Jet DB\0", 16)) ||
        engine.startsWith(QByteArrayView("Standard ACE DB\0", 16)))
        return DataFileKind::Jet;
    return DataFileKind::Unknown;
}

DataFileKind detectDataFile(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return DataFileKind::Missing;
    if (!info.isFile())
        return DataFileKind::Unknown;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return info.size() == 0 ? DataFileKind::Missing : DataFileKind::Unknown;
    return detectDataFile(file.read(32), true);
}

} // namespace kestrella
