#pragma once

#include <QtGlobal>
#include <chrono>

class QProcess;

namespace kestrella {

// Shuts the reader of Access files in before it starts: none of the user's environment, no input, no core dump,
// its address space (memoryLimit bytes; 0: no limit) and processor time capped, and killed should the program die.
void sandboxImporter(QProcess& reader, std::chrono::milliseconds timeLimit, qint64 memoryLimit);

// Whether the reader runs under the memory limit in this build (not under AddressSanitizer, which
// needs terabytes of address space for itself).
bool importerMemoryLimitApplies();

} // namespace kestrella
