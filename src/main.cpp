#include "main_window/frmmain.h"
#include "migrate/startup.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kestrella"));
    // Ties the window to its menu entry and icon on desktops that go by the desktop ID.
    QGuiApplication::setDesktopFileName(QStringLiteral("example.kestrella.Kestrella"));
    const QString folder = QCoreApplication::applicationDirPath();
    // An Access data file is converted before the main window opens it; when that fails the user has
    // been told why, the file is as it was, and the program ends.
    if (!kestrella::prepareDataFile(folder, kestrella::importerPath(folder)))
        return 1;
    auto* window = new kestrella::frmMain(folder);
    window->setAttribute(Qt::WA_DeleteOnClose);
    // The data file cannot be used: the failure has been shown, and the program ends.
    if (!window->Form_Load()) {
        delete window;
        return 1;
    }
    window->show();
    return app.exec();
}
