#pragma once

#include "migrate/migration.h"

#include <memory>

class QProgressDialog;

namespace kestrella {

// A small window with rows copied of rows total while an Access database is converted. It is never
// modal: nothing else is open yet, and the conversion keeps its events flowing.
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
