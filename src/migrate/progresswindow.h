#pragma once

#include "migrate/migration.h"

#include <memory>

class QProgressDialog;
class QString;

namespace kestrella {

// A progress window for work done before the main window opens. It is never modal: nothing else is open yet, and the
// work keeps its events flowing. It shows only once the work has taken half a second, busy until told a count.
std::unique_ptr<QProgressDialog> makeProgressWindow(const QString& name, const QString& text);

// A small window with rows copied of rows total while an Access database is converted.
class MigrationProgressWindow final : public MigrationObserver
{
public:
    MigrationProgressWindow();
    ~MigrationProgressWindow() override;

    void started(qint64 total) override;
    void copied(qint64 rows) override;
    bool cancelRequested() override;

    QProgressDialog* dialog() const { return m_dialog.get(); }

private:
    void showCount();

    std::unique_ptr<QProgressDialog> m_dialog;
    qint64 m_total = -1;
    qint64 m_rows = 0;
};

} // namespace kestrella
