#pragma once

#include <functional>

class QProcess;

namespace kestrella {

class ImportStreamHandler;
class ImportStreamParser;

// Parses what the running reader writes, as it comes, until the reader has ended and everything it wrote is
// parsed. After each read, afterRead learns whether the reader still runs; it throws to stop reading.
void readImporterOutput(QProcess& reader, ImportStreamParser& parser, ImportStreamHandler& handler,
                        const std::function<void(bool readerRunning)>& afterRead);

} // namespace kestrella
