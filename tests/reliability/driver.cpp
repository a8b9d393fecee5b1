// A process the reliability tests can kill, lock a file with, or start the program's window in:
//   driver saves <folder> <run>         adds and edits records through the main window's Save for ever, printing
//                                       "saved <name> <version>" only once Save has returned
//   driver lock <file> <exclusive|immediate>
//                                       holds a transaction on the file, prints "locked", and ends it when a line
//                                       (or the end) arrives on its input
//   driver start <folder>               starts the main window on the folder's data file, prints every message
//                                       shown, then reads every field of every record; exit 0 when it started
#include "app/errors.h"
#include "app/messages.h"
#include "main_window/frmmain.h"
#include "main_window/programlistmodel.h"
#include "records/program.h"
#include "reliability.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QToolButton>
#include <cstdio>
#include <sqlite3.h>

using namespace kestrella;

namespace {

void printLine(const QString& line)
{
    // One write per line, so a kill never leaves half a line that could be read as a whole one.
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

class PrintedMessages final : public MessageService
{
public:
    MessageAnswer show(QWidget*, const Message& message) override
    {
        ++count;
        QString prompt = message.prompt;
        printLine(QStringLiteral("message: ") + prompt.replace(QLatin1Char('\n'), QLatin1String("\\n")));
        return message.buttons == MessageButtons::Ok ? MessageAnswer::Ok : MessageAnswer::No;
    }
    int count = 0;
};

void fill(frmMain& window, const QStringList& fields)
{
    const char* boxes[] = {"txtProName",        "txtProUserName", "txtProPassword", "txtProLogin",
                           "txtProUrlReferral", "txtStart",       "txtLastLogin"};
    for (int i = 0; i < int(std::size(boxes)); ++i)
        window.findChild<QLineEdit*>(QString::fromLatin1(boxes[i]))->setText(fields.at(i));
    auto pick = [&](const char* chooser, const QString& entry) {
        auto* box = window.findChild<QComboBox*>(QString::fromLatin1(chooser));
        box->setCurrentIndex(box->findText(entry));
    };
    pick("cboType", fields.at(7));
    pick("cboRateit", fields.at(8));
    window.findChild<QPlainTextEdit*>(QStringLiteral("txtComments"))->setPlainText(fields.at(9));
}

void click(frmMain& window, const char* command)
{
    window.findChild<QToolButton*>(QString::fromLatin1(command))->click();
}

void pick(frmMain& window, const QString& name)
{
    const QModelIndex entry = window.programList().index(window.programList().rowOf(name));
    window.findChild<QAbstractItemView*>(QStringLiteral("lstPrograms"))
        ->selectionModel()
        ->setCurrentIndex(entry, QItemSelectionModel::ClearAndSelect);
}

int saves(const QString& folder, const QString& run)
{
    PrintedMessages messages;
    MessageService::install(&messages);
    frmMain window(folder);
    if (!window.Form_Load())
        return 2;
    printLine(QStringLiteral("ready"));
    for (int serial = 0;; ++serial) {
        const QString name = QStringLiteral("R%1-%2").arg(run).arg(serial);
        for (int version = 0; version <= test::CrashEdits; ++version) {
            if (version == 0) {
                click(window, "cmdAdd");
            } else {
                pick(window, name); // Edit is offered for a picked record only
                click(window, "cmdModify");
            }
            fill(window, test::crashRecord(name, version));
            click(window, "cmdSave");
            if (window.changePending() || messages.count > 0)
                return 3; // Save refused: the test reads the message above
            printLine(QStringLiteral("saved %1 %2").arg(name).arg(version));
        }
    }
}

int lock(const QString& file, const QString& kind)
{
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(file).constData(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
        return 2;
    const QByteArray begin = kind == QLatin1String("immediate") ? "BEGIN IMMEDIATE" : "BEGIN EXCLUSIVE";
    if (sqlite3_exec(db, begin.constData(), nullptr, nullptr, nullptr) != SQLITE_OK)
        return 3;
    printLine(QStringLiteral("locked"));
    char line[16];
    (void)std::fgets(line, sizeof line, stdin);
    const int rc = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    return rc == SQLITE_OK ? 0 : 4;
}

int start(const QString& folder)
{
    PrintedMessages messages;
    MessageService::install(&messages);
    frmMain window(folder);
    if (!window.Form_Load())
        return 1;
    window.show();
    QCoreApplication::processEvents();
    // Everything the file holds is read once, as a user clicking through every record would.
    Recordset& records = window.datProgram().recordset();
    qint64 count = 0;
    QString outcome = QStringLiteral("read");
    try {
        if (records.recordCount() > 0)
            records.moveFirst();
        while (records.hasCurrentRecord()) {
            for (const QString& field : ProgramFields::all())
                records.fields(field).value();
            ++count;
            records.moveNext();
        }
    } catch (const AppError& error) {
        outcome = QStringLiteral("unreadable: ") + errorText(error);
    }
    printLine(QStringLiteral("loaded %1 %2").arg(count).arg(outcome));
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 4 && args[1] == QLatin1String("saves"))
        return saves(args[2], args[3]);
    if (args.size() == 4 && args[1] == QLatin1String("lock"))
        return lock(args[2], args[3]);
    if (args.size() == 3 && args[1] == QLatin1String("start"))
        return start(args[2]);
    std::fputs("usage: driver saves <folder> <run> | lock <file> <exclusive|immediate> | start <folder>\n", stderr);
    return 64;
}
