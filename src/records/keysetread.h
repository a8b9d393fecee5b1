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

// Reads every row of `statement` (the rowid, then the field's value when `withField`). `fromTheEnd`, when not empty,
// is the same statement in the opposite order, both ordered by the field without regard to case and then by rowid:
// a long read is then shared with a second connection on another thread that reads from the far end until the two
// meet (reading a million names from the index is most of a start-up, and a machine has a second core).
KeysetRows readKeysetRows(sqlite3* db, const QString& statement, bool withField, const QString& fromTheEnd);

} // namespace kestrella
