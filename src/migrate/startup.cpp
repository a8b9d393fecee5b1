#include "migrate/startup.h"

#include "app/apperror.h"
#include "app/messages.h"
#include "migrate/datafile.h"
#include "migrate/migration.h"
#include "migrate/progresswindow.h"
#include "records/storefile.h"

#include <QDir>
#include <QEventLoop>
#include <QProgressDialog>
#include <QThread>
#include <memory>

namespace kestrella {

QString importerPath(const QString& applicationFolder)
{
    return QDir(applicationFolder).filePath(QStringLiteral("kestrella-import"));
}

namespace {

// A file another tool made lacks the indexes; at a million records adding them takes seconds, done by a thread of
// its own while this one shows why the main window is not there yet and goes on painting. The main window opens only
// after, so no write of its own meets the build's lock. Cancel stops the build and the program, the file as it was.
bool addMissingIndexes(const QString& path)
{
    std::unique_ptr<IndexBuild> build;
    if (!resumeNext([&] { build = IndexBuild::forFile(path); }) || !build)
        return true;
    const auto progress = makeProgressWindow(
        QStringLiteral("frmPrepare"),
        QStringLiteral("Preparing the data file for quick lookups. This is done once; a large file takes a few "
                       "seconds."));
    QObject::connect(progress.get(), &QProgressDialog::canceled, [&] { build->stop(); });
    QEventLoop loop;
    const std::unique_ptr<QThread> worker(QThread::create([&] { resumeNext([&] { build->run(); }); }));
    QObject::connect(worker.get(), &QThread::finished, &loop, &QEventLoop::quit);
    worker->start();
    loop.exec();
    worker->wait();
    return !progress->wasCanceled();
}

} // namespace

bool prepareDataFile(const QString& applicationFolder, const QString& importer)
{
    MigrationOptions options;
    options.importer = importer;
    std::unique_ptr<MigrationProgressWindow> progress;
    const QString dataFile = QDir(applicationFolder).filePath(DataFileName);
    const DataFileKind kind = detectDataFile(dataFile);
    if (kind == DataFileKind::Jet) {
        progress = std::make_unique<MigrationProgressWindow>();
        options.observer = progress.get();
    }
    const MigrationOutcome outcome = migrateDataFile(applicationFolder, options);
    progress.reset();
    switch (outcome.result) {
    case MigrationOutcome::Result::NotNeeded:
        return kind != DataFileKind::Sqlite || addMissingIndexes(dataFile);
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
