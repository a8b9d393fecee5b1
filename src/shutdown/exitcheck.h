#pragma once

#include "records/datasource.h"

namespace kestrella {

// The label an addition left unsaved carries, so the user meets it in the list at the next start.
inline const QString BlankRecordName = QStringLiteral("BLANK RECORD DELETE IMMEDIATELY");
inline const QString BlankRecordComment =
    QStringLiteral("This was caused when you tried to add a record and the program was stoped without saving with a "
                   "Program Name.  Remove this Blank Record or it will cause problems !");

// Writes the label into the record being added. Fields the user typed into keep what was typed; a field that
// cannot be written is passed over.
void labelUnsavedAddition(Recordset& records);

} // namespace kestrella
