#pragma once

#include "records/datasource.h"

namespace kestrella {

// The label an addition left unsaved carries, so the user meets it in the list at the next start.
inline const QString BlankRecordName = QStringLiteral("BLANK RECORD DELETE IMMEDIATELY");
inline const QString BlankRecordComment =
    QStringLiteral("This was caused when you tried to add a record and the program was stoped without saving with a "
                   "Program Name.  Remove this Blank Record or it will cause problems !");

// Stores the record being added with the label. Fields the user typed into keep what was typed. The label goes into
// the table only with this store: when the store fails (StoreError), the record stays pending as it was.
void storeLabelledAddition(Recordset& records);

} // namespace kestrella
