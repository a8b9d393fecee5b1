// A process for the crash test to kill: `driver <folder> <run>` adds and edits records through the main window's
// Save for ever, printing "saved <name> <version>" only once Save has returned.
#include "app/messages.h"
#include "main_window/frmmain.h"
#include "main_window/programlistmodel.h"
#include "reliability.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QToolButton>
#include <cstdio>

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
        printLine(QStringLiteral("message: ") + QString(message.prompt).replace(QLatin1Char('\n'), QLatin1Char(' ')));
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

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 3)
        return saves(args[1], args[2]);
    std::fputs("usage: driver <folder> <run>\n", stderr);
    return 64;
}
