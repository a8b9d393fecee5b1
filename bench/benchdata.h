#pragma once

#include <QString>

namespace kestrella::bench {

// A data file of `records` programs, made once per process in a temporary folder and reused:
// names of 5 to 40 characters in mixed case (one in twenty with letters outside ASCII), addresses of 40 to 80,
// comments of 0 to 500, the ten types evenly spread.
QString databaseWith(int records);
// The application folder that holds that file as "datReferral.mdb".
QString applicationFolderWith(int records);

} // namespace kestrella::bench
