// migrate_runner FOLDER IMPORTER [STEP]: migrates the folder's data file; with a step, the process
// kills itself right after that step, as a crash or a power cut would cut it short.
#include "migrate/migration.h"

#include <QCoreApplication>
#include <QTextStream>
#include <csignal>

using namespace kestrella;

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 3)
        return 64;
    MigrationOptions options;
    options.importer = args.at(2);
    const QString stopAfter = args.value(3);
    options.afterStep = [&](MigrationStep step) {
        if (migrationStepName(step) == stopAfter)
            std::raise(SIGKILL);
    };
    const MigrationOutcome outcome = migrateDataFile(args.at(1), options);
    QTextStream(stdout) << outcome.message << Qt::endl;
    switch (outcome.result) {
    case MigrationOutcome::Result::Migrated:
        return 0;
    case MigrationOutcome::Result::NotNeeded:
        return 1;
    case MigrationOutcome::Result::Failed:
        break;
    }
    return 3;
}
