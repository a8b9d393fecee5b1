#include "shutdown/frmclosing.h"

#include "app/controls.h"
#include "app/errors.h"
#include "records/datasource.h"
#include "records/program.h"

#include <QDir>
#include <QIcon>
#include <QLabel>
#include <QPixmap>
#include <QShowEvent>
#include <QTimer>
#include <QWindow>

namespace kestrella {
namespace {

int tickIntervalMs = 1000;

const QString StatusAtLoad = QStringLiteral("Closing....");
const QString StatusChecking = QStringLiteral("Checking ");
const QString StatusDone = QStringLiteral("Done!");
const QString StatusCleaned = QStringLiteral("Cleaning Data");
const QString CountAtLoad = QStringLiteral("1");
const QString LastCount = QStringLiteral("10");

// A null icon would let the application's icon through; this window shows none.
QIcon noIcon()
{
    QIcon icon;
    for (int size : {16, 32, 48}) {
        QPixmap blank(size, size);
        blank.fill(Qt::transparent);
        icon.addPixmap(blank);
    }
    return icon;
}

} // namespace

frmClosing::frmClosing(const QString& applicationFolder, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
    , m_applicationFolder(applicationFolder)
{
    setObjectName(QStringLiteral("frmClosing"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Closing Database"));
    setWindowIcon(noIcon());
    setFont(controlFont());
    createControls();
    placeControls();
}

void frmClosing::setTickInterval(int ms)
{
    tickIntervalMs = ms;
}

int frmClosing::tickInterval()
{
    return tickIntervalMs;
}

void frmClosing::createControls()
{
    lblStatus = makeLabel(this, "lblStatus", StatusAtLoad);
    lblcount = makeLabel(this, "lblcount", CountAtLoad);

    datClose = new DataSource(this);
    datClose->setObjectName(QStringLiteral("datClose"));

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(tickIntervalMs);
    connect(Timer1, &QTimer::timeout, this, &frmClosing::Timer1_Timer);
}

void frmClosing::placeControls()
{
    setFixedSize(twipsToPixels(2805), twipsToPixels(570));
    // lblStatus is wider than the window on purpose: a long status is cut at the window's edge.
    placeInTwips({
        {lblStatus, 0, 0, 4695, 375},
        {lblcount, 0, 240, 495, 375},
    });
}

void frmClosing::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (m_opened)
        return;
    m_opened = true;
    centreOnScreen(this, screen());
    // The window is not on the screen yet: the walk waits until it is, so the person sees "Closing...." while a
    // long table is checked rather than an empty frame.
    windowHandle()->installEventFilter(this);
}

bool frmClosing::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == windowHandle() && event->type() == QEvent::Expose && windowHandle()->isExposed()) {
        windowHandle()->removeEventFilter(this);
        // Queued, so the exposure paints the window first; the walk then runs outside any nested event loop, where
        // no tick can come in the middle of it.
        QMetaObject::invokeMethod(this, &frmClosing::beginClosing, Qt::QueuedConnection);
    }
    return QWidget::eventFilter(watched, event);
}

void frmClosing::beginClosing()
{
    // Started before the walk so that a long walk does not delay the first tick, and only now so that
    // no tick can come before the walk.
    Timer1->start();
    ClosingWalk();
}

void frmClosing::ClosingWalk()
{
    const QString path = QDir(m_applicationFolder).filePath(DataFileName);
    try {
        // On the way out there is nothing to clean in a missing file, and nothing should be made.
        datClose->setCreateIfMissing(false);
        datClose->setDatabaseName(path);
        datClose->setRecordSource(ProgramsTable);
        datClose->setPrefetchedField(ProgramFields::Name);
        datClose->refresh();
        Recordset& records = datClose->recordset();
        records.moveLast();
        const qint64 count = records.recordCount();
        records.moveFirst();
        Field name = records.fields(ProgramFields::Name);
        for (qint64 i = 0; i < count; ++i) {
            const FieldValue current = name.value();
            if (!current) {
                removeCurrentRecord();
                return;
            }
            // Nothing is painted until the walk ends, so a long table costs only the text itself.
            lblStatus->setText(StatusChecking + *current);
            records.moveNext();
        }
    } catch (const std::exception&) {
        // Missing, locked, not a database, or an empty table: nothing is removed.
        lblStatus->setText(StatusCleaned);
        return;
    }
    lblStatus->setText(StatusDone);
}

void frmClosing::removeCurrentRecord()
{
    try {
        datClose->recordset().deleteCurrent();
        lblStatus->setText(StatusCleaned);
    } catch (const std::exception& error) {
        const QString status = QStringLiteral("Cleaning failed. %1").arg(errorText(error));
        lblStatus->setText(status);
        // The label is cut at the window's edge; the whole reason stays one hover away.
        lblStatus->setToolTip(status);
    }
}

void frmClosing::Timer1_Timer()
{
    if (lblStatus->text() == StatusDone) {
        unload();
        return;
    }
    lblcount->setText(QString::number(lblcount->text().toInt() + 1));
    if (lblcount->text() == LastCount)
        unload();
}

void frmClosing::unload()
{
    Timer1->stop();
    close();
}

} // namespace kestrella
