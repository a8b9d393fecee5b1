#include "migrate/importerread.h"

#include "migrate/importstream.h"

#include <QProcess>

namespace kestrella {

void readImporterOutput(QProcess& reader, ImportStreamParser& parser, ImportStreamHandler& handler,
                        const std::function<void(bool readerRunning)>& afterRead)
{
    for (;;) {
        // Taken before the read, so output written just before the end is still read once more.
        const bool running = reader.state() != QProcess::NotRunning;
        if (running)
            reader.waitForReadyRead(50);
        parser.feed(reader.readAllStandardOutput(), handler);
        afterRead(running);
        if (!running)
            return;
    }
}

} // namespace kestrella
