#include "migrate/progresswindow.h"

#include "app/appinfo.h"

#include <QLocale>
#include <QProgressDialog>
#include <climits>

namespace kestrella {

MigrationProgressWindow::MigrationProgressWindow()
    : m_dialog(std::make_unique<QProgressDialog>())
{
    m_dialog->setObjectName(QStringLiteral("frmMigrate"));
    m_dialog->setWindowTitle(AppInfo::title());
    m_dialog->setWindowModality(Qt::NonModal);
    m_dialog->setCancelButtonText(QStringLiteral("Cancel"));
    // Stays up until the switch is done, not just until the last row is copied.
    m_dialog->setAutoClose(false);
    m_dialog->setAutoReset(false);
    // Quick conversions finish before it would show.
    m_dialog->setMinimumDuration(500);
    m_dialog->setRange(0, 0); // busy until the file says how many rows it holds
    showCount();
}

MigrationProgressWindow::~MigrationProgressWindow() = default;

void MigrationProgressWindow::started(qint64 total)
{
    m_total = total;
    showCount();
}

void MigrationProgressWindow::copied(qint64 rows)
{
    if (rows == m_rows)
        return;
    m_rows = rows;
    showCount();
}

bool MigrationProgressWindow::cancelRequested()
{
    return m_dialog->wasCanceled();
}

void MigrationProgressWindow::showCount()
{
    const QLocale locale;
    QString text = QStringLiteral("Converting the Access database into Kestrella's own format.");
    if (m_total >= 0) {
        text += QStringLiteral("\n\n%1 of %2 programs copied").arg(locale.toString(m_rows), locale.toString(m_total));
        // The bar counts in thousandths when the rows would not fit its range.
        const bool scaled = m_total > INT_MAX;
        m_dialog->setRange(0, scaled ? 1000 : int(qMax<qint64>(m_total, 1)));
        const qint64 done = qMin(m_rows, m_total);
        m_dialog->setValue(int(scaled ? done * 1000 / m_total : done));
    }
    m_dialog->setLabelText(text);
}

} // namespace kestrella
