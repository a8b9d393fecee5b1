// Starts the main window as the program does and stops at the list's first paint, printing when that
// happened and the resident size then. With --bare: the same window of the same controls, nothing loaded. With
// --first-window FOLDER: stops at the first paint of any window, the progress window of start-up's preparation too.
#include "main_window/frmmain.h"
#include "migrate/startup.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QEvent>
#include <QFile>
#include <cstdio>
#include <ctime>
#include <unistd.h>

namespace {

long residentKilobytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    }
    return -1;
}

class FirstPaint : public QObject
{
public:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        const bool result = QObject::eventFilter(watched, event);
        if (event->type() == QEvent::Paint) {
            timespec now{};
            clock_gettime(CLOCK_REALTIME, &now);
            std::printf("painted_ns=%lld rss_kb=%ld\n", (long long)now.tv_sec * 1000000000LL + now.tv_nsec,
                        residentKilobytes());
            std::fflush(stdout);
            _exit(0); // what comes after the first paint is not measured
        }
        return result;
    }
};

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const QString argument = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    const bool bare = argument == QLatin1String("--bare");
    const bool anyWindow = argument == QLatin1String("--first-window") && argc > 2;
    const QString folder = anyWindow ? QString::fromLocal8Bit(argv[2]) : argument;
    FirstPaint firstPaint;
    if (anyWindow)
        app.installEventFilter(&firstPaint);
    if (!bare && !kestrella::prepareDataFile(folder, kestrella::importerPath(folder)))
        return 1;
    kestrella::frmMain window(bare ? QStringLiteral("/nonexistent") : folder);
    if (!bare && !window.Form_Load())
        return 1;
    window.findChild<QAbstractItemView*>(QStringLiteral("lstPrograms"))->viewport()->installEventFilter(&firstPaint);
    window.show();
    return app.exec();
}
