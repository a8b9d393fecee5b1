#include "main_window/frmmain.h"

#include "app/errors.h"
#include "records/program.h"

#include <QDir>

namespace kestrella {

frmMain::frmMain(const QString& applicationFolder, QWidget* parent)
    : QWidget(parent)
    , m_applicationFolder(applicationFolder)
    , m_datProgram(new DataSource(this))
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Kestrella - Keep Track of all of your important referral information !"));
    m_datProgram->setObjectName(QStringLiteral("datProgram"));
}

bool frmMain::Form_Load()
{
    return runReported(this, [this] {
        m_datProgram->setDatabaseName(QDir(m_applicationFolder).filePath(QStringLiteral("datReferral.mdb")));
        m_datProgram->setRecordSource(selectAllStatement());
        m_datProgram->refresh();
    });
}

} // namespace kestrella
