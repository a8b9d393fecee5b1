// Makes the benchmark data files ahead of the runs: makedata <records>...
#include "benchdata.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    for (int i = 1; i < argc; ++i)
        std::printf("%s\n", qPrintable(kestrella::bench::applicationFolderWith(QString::fromLatin1(argv[i]).toInt())));
    return 0;
}
