#include "migrate/progresswindow.h"

#include "app/appinfo.h"

#include <QLocale>
#include <QProgressDialog>
#include <climits>

namespace kestrella {

std::unique_ptr<QProgressDialog> makeProgressWindow(const QString& name, const QString& text)
{
    auto dialog = std::make_unique<QProgressDialog>();
    dialog->setObjectName(name);
    dialog->setWindowTitle(AppInfo::title());
    dialog->setWindowModality(Qt::NonModal);
    dialog->setCancelButtonText(QStringLiteral("Cancel"));
    // Stays up until the work is done, not just until the bar is full.
    dialog->setAutoClose(false);
    dialog->setAutoReset(false);
    // Quick work finishes before it would show.
    dialog->setMinimumDuration(500);
    dialog->setRange(0, 0);
    dialog->setValue(0); // starts the clock of that half second
    dialog->setLabelText(text);
    return dialog;
}

MigrationProgressWindow::MigrationProgressWindow()
    : m_dialog(makeProgressWindow(QStringLiteral("frmMigrate"), QString()))
{
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
