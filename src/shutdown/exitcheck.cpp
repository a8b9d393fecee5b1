#include "shutdown/exitcheck.h"

#include "records/program.h"

namespace kestrella {

void storeLabelledAddition(Recordset& records)
{
    records.update({{ProgramFields::Name, BlankRecordName}, {ProgramFields::Comments, BlankRecordComment}});
}

} // namespace kestrella
