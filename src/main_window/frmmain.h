#pragma once

#include "records/datasource.h"

#include <QWidget>

namespace kestrella {

class frmMain : public QWidget
{
    Q_OBJECT

public:
    explicit frmMain(const QString& applicationFolder, QWidget* parent = nullptr);

    // Runs the load routine; false when the database could not be opened (already reported).
    bool Form_Load();

    DataSource& datProgram() { return *m_datProgram; }

private:
    QString m_applicationFolder;
    DataSource* m_datProgram;
};

} // namespace kestrella
