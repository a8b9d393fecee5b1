#include "migrate/startup.h"

#include "app/messages.h"
#include "migrate/datafile.h"
#include "migrate/migration.h"
#include "migrate/progresswindow.h"

#include <QDir>
#include <memory>

namespace kestrella {

QString importerPath(const QString& applicationFolder)
{
    return QDir(applicationFolder).filePath(QStringLiteral("kestrella-import"));
}

bool prepareDataFile(const QString& applicationFolder, const QString& importer)
{
    MigrationOptions options;
    options.importer = importer;
    std::unique_ptr<MigrationProgressWindow> progress;
    if (detectDataFile(QDir(applicationFolder).filePath(DataFileName)) == DataFileKind::Jet) {
        progress = std::make_unique<MigrationProgressWindow>();
        options.observer = progress.get();
    }
    const MigrationOutcome outcome = migrateDataFile(applicationFolder, options);
    progress.reset();
    switch (outcome.result) {
    case MigrationOutcome::Result::NotNeeded:
        return true;
    case MigrationOutcome::Result::Migrated:
        showNotice(nullptr, outcome.message);
        return true;
    case MigrationOutcome::Result::Failed:
        showWarning(nullptr, outcome.message);
        return false;
    }
    return false;
}

} // namespace kestrella
