#include "main_window/frmmain.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    kestrella::frmMain window(QCoreApplication::applicationDirPath());
    if (!window.Form_Load())
        return 1;
    window.show();
    return app.exec();
}
