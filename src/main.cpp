#include "main_window/frmmain.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kestrella"));
    auto* window = new kestrella::frmMain(QCoreApplication::applicationDirPath());
    window->setAttribute(Qt::WA_DeleteOnClose);
    // The data file cannot be used: the failure has been shown, and the program ends.
    if (!window->Form_Load()) {
        delete window;
        return 1;
    }
    window->show();
    return app.exec();
}
