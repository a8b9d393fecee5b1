#pragma once

#include "records/program.h" // DataFileName

#include <QString>

namespace kestrella {

// What a data file is, told by its first bytes alone.
enum class DataFileKind
{
    Missing, // no file, or a file of zero bytes: the record store makes a new one
    Sqlite,  // the program's own format
    Jet,     // an Access database (Jet 3/4 or ACE): migrated before the program starts
    Unknown, // anything else, or unreadable: left alone, start-up reports it as before
};

DataFileKind detectDataFile(const QString& path);
// The same, from the file's first bytes (at least the first 32 are needed to tell).
DataFileKind detectDataFile(const QByteArray& head, bool exists);

} // namespace kestrella
