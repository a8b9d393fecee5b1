#pragma once

#include "records/largepages.h"
#include "records/packedtexts.h"

#include <QString>
#include <vector>

struct sqlite3;

namespace kestrella {

// The rows of a set's statement: each record's rowid and, when the statement reads a field, that field's text.
struct KeysetRows
{
    LargeVector<qint64> keys;
    PackedTexts texts;
    std::vector<bool> isNull;
};

// What a read of a whole table in the field's order needs to share the read with a second connection: the same
// statement for the records from a value of the field on (bound as ?1); the field's value at the first rowid at or
// after ?1; the table's lowest and highest rowid. Empty statements: the read is not shared.
struct SecondReader
{
    QString fromValue;
    QString valueAt;
    QString rowidRange;
};

// Reads every row of `statement` (the rowid, then the field's value when `withField`). A long read in the field's
// order without regard to case, then by rowid, is shared with a second connection on another thread that reads the
// second half (reading a million names from the index is most of a start-up, and a machine has a second core).
KeysetRows readKeysetRows(sqlite3* db, const QString& statement, bool withField, const SecondReader& second);

} // namespace kestrella
