#pragma once

#include <QString>

namespace kestrella {

// Gets the data file in the application folder ready before the main window opens it: an Access
// database is converted into the program's own format first, with a progress window, and the user
// is told once how it went; a file that lacks the indexes gets them, with the same window when it takes a while.
// False when the program cannot go on (the user has been told why) or the user cancelled.
bool prepareDataFile(const QString& applicationFolder, const QString& importer);

// The converter's place: beside the program.
QString importerPath(const QString& applicationFolder);

} // namespace kestrella
