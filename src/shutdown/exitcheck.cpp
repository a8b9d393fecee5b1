#include "shutdown/exitcheck.h"

#include "app/errors.h"
#include "records/program.h"

namespace kestrella {

void labelUnsavedAddition(Recordset& records)
{
    resumeNext([&] { records.fields(ProgramFields::Name).setValue(BlankRecordName); });
    resumeNext([&] { records.fields(ProgramFields::Comments).setValue(BlankRecordComment); });
}

} // namespace kestrella
