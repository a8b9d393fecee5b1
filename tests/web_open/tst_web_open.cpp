#include "app/appinfo.h"
#include "support/testsupport.h"
#include "web_open/fakeshell.h"
#include "web_open/webopen.h"

#include <QDir>
#include <QTest>

using namespace kestrella;
using Kind = test::FakeShell::Kind;

namespace {

const QString PageFailed = QStringLiteral("Web page failed to be opened.");

QStringList prompts(const test::ScriptedMessages& messages)
{
    QStringList result;
    for (const Message& m : messages.shown)
        result.append(m.prompt);
    return result;
}

bool allWarnings(const test::ScriptedMessages& messages)
{
    return std::all_of(messages.shown.cbegin(), messages.shown.cend(), [](const Message& m) {
        return m.icon == MessageIcon::Exclamation && m.buttons == MessageButtons::Ok;
    });
}

} // namespace

class TestWebOpen : public QObject
{
    Q_OBJECT

private slots:
    void theBrowserGetsTheAddressUnchangedAsOneArgument_data()
    {
        QTest::addColumn<QString>("url");
        QTest::newRow("home site") << HomeSiteAddress;
        QTest::newRow("blanks and shell characters") << "http://example.test/a b?x=$(touch f);'\"";
        QTest::newRow("empty address: one empty argument") << "";
    }
    void theBrowserGetsTheAddressUnchangedAsOneArgument()
    {
        QFETCH(QString, url);
        test::ScriptedMessages messages;
        test::FakeShell shell;
        OpenWebPage(nullptr, url, true);

        QVERIFY(messages.shown.isEmpty());
        QCOMPARE(shell.starts.size(), 1);
        QCOMPARE(shell.starts[0].kind, Kind::Browser);
        QCOMPARE(shell.starts[0].argument, url);
        // The look-up saw a private placeholder in the temporary folder, gone once the call returned.
        QCOMPARE(QFileInfo(shell.lookedUpFile).absolutePath(), QFileInfo(QDir::tempPath()).absoluteFilePath());
        QVERIFY(shell.lookedUpFile.endsWith(QLatin1String(".htm")));
        QCOMPARE(shell.lookedUpContent, QByteArray("<HTML> <\\HTML>\n"));
        QCOMPARE(shell.lookedUpPermissions & ~(QFile::ReadUser | QFile::WriteUser),
                 QFile::ReadOwner | QFile::WriteOwner);
        QVERIFY(!QFile::exists(shell.lookedUpFile));
    }

    void noBrowserMeansAMessageAndNothingStarted_data()
    {
        QTest::addColumn<bool>("passToBrowser");
        QTest::newRow("pass to browser") << true;
        QTest::newRow("desktop opener") << false;
    }
    void noBrowserMeansAMessageAndNothingStarted()
    {
        QFETCH(bool, passToBrowser);
        test::ScriptedMessages messages;
        test::FakeShell shell;
        shell.hasBrowser = false;
        OpenWebPage(nullptr, HomeSiteAddress, passToBrowser);

        QVERIFY(shell.starts.isEmpty());
        QCOMPARE(prompts(messages), QStringList{"Could not open your browser!"});
        QCOMPARE(messages.shown[0].caption, QStringLiteral("Browser Not Found..."));
        QVERIFY(allWarnings(messages));
        QVERIFY(!QFile::exists(shell.lookedUpFile));
    }

    void aRefusedStartFallsBackBeforeTheMessage_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("fallbackStarts");
        QTest::addColumn<QString>("fallbackGets"); // null: the fallback is not started
        // Whatever the fallback does, the user is told once.
        QTest::newRow("fallback starts, message still shown")
            << "http://example.test/a b" << true << "http://example.test/a b";
        QTest::newRow("fallback fails too") << "https://example.test" << false << "https://example.test";
        QTest::newRow("www gets a scheme") << "www.example.test" << true << "http://www.example.test";
        QTest::newRow("local path refused") << "/etc/passwd" << true << QString();
        QTest::newRow("file url refused") << "file:///etc/passwd" << true << QString();
        QTest::newRow("javascript refused") << "javascript:alert(1)" << true << QString();
    }
    void aRefusedStartFallsBackBeforeTheMessage()
    {
        QFETCH(QString, url);
        QFETCH(bool, fallbackStarts);
        QFETCH(QString, fallbackGets);
        test::ScriptedMessages messages;
        test::FakeShell shell(&messages);
        shell.browserStarts = false;
        shell.fallbackStarts = fallbackStarts;
        OpenWebPage(nullptr, url, true);

        QCOMPARE(shell.starts.size(), fallbackGets.isNull() ? 1 : 2);
        QCOMPARE(shell.starts[0].argument, url);
        if (!fallbackGets.isNull()) {
            QCOMPARE(shell.starts[1].kind, Kind::Fallback);
            QCOMPARE(shell.starts[1].argument, fallbackGets);
            QCOMPARE(shell.starts[1].messagesBefore, 0);
        }
        QCOMPARE(prompts(messages), QStringList{PageFailed});
        QCOMPARE(messages.shown.last().caption, QStringLiteral("Testing only did it work ?"));
        QVERIFY(allWarnings(messages));
        QVERIFY(!QFile::exists(shell.lookedUpFile));
    }

    void theDesktopOpenerGetsWebAddressesOnly_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("desktopOpens");
        QTest::addColumn<QList<Kind>>("expectedKinds");
        QTest::addColumn<QStringList>("expectedPrompts");
        QTest::newRow("opened") << HomeSiteAddress << true << QList<Kind>{Kind::Desktop} << QStringList{};
        QTest::newRow("refused start falls back")
            << HomeSiteAddress << false << QList<Kind>{Kind::Desktop, Kind::Fallback} << QStringList{PageFailed};
        QTest::newRow("local path: nothing started") << "/bin/sh" << true << QList<Kind>{} << QStringList{PageFailed};
    }
    void theDesktopOpenerGetsWebAddressesOnly()
    {
        QFETCH(QString, url);
        QFETCH(bool, desktopOpens);
        QFETCH(QList<Kind>, expectedKinds);
        QFETCH(QStringList, expectedPrompts);
        test::ScriptedMessages messages;
        test::FakeShell shell;
        shell.desktopOpens = desktopOpens;
        OpenWebPage(nullptr, url, false);

        QList<Kind> kinds;
        for (const auto& start : shell.starts) {
            kinds.append(start.kind);
            QCOMPARE(start.argument, url);
        }
        QCOMPARE(kinds, expectedKinds);
        QCOMPARE(prompts(messages), expectedPrompts);
    }

    void unsafeAddressesAreNeverHandedOver_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("passToBrowser");
        QTest::newRow("leading dash to the browser") << "--new-window http://example.test" << true;
        QTest::newRow("leading dash to the desktop") << "-http://example.test" << false;
        QTest::newRow("line feed") << "http://example.test/\nhttp://other.test" << true;
        QTest::newRow("carriage return") << "http://example.test/\r" << false;
        QTest::newRow("NUL") << QString("http://example.test/") + QChar(0) + "x" << true;
    }
    void unsafeAddressesAreNeverHandedOver()
    {
        QFETCH(QString, url);
        QFETCH(bool, passToBrowser);
        test::ScriptedMessages messages;
        test::FakeShell shell;
        shell.browserStarts = false; // a refusal must not reach the fallback either
        OpenWebPage(nullptr, url, passToBrowser);

        QVERIFY(shell.starts.isEmpty());
        QCOMPARE(prompts(messages), QStringList{PageFailed});
        QVERIFY(!QFile::exists(shell.lookedUpFile));
    }

    void aMissingTemporaryFolderIsReportedNotFatal()
    {
        const bool wasSet = qEnvironmentVariableIsSet("TMPDIR");
        const QByteArray savedTmp = qgetenv("TMPDIR");
        qputenv("TMPDIR", "/nonexistent-kestrella-folder");
        test::ScriptedMessages messages;
        test::FakeShell shell;
        OpenWebPage(nullptr, HomeSiteAddress, true);
        wasSet ? qputenv("TMPDIR", savedTmp) : qunsetenv("TMPDIR");

        QVERIFY(shell.lookedUpFile.isEmpty());
        QVERIFY(shell.starts.isEmpty());
        QCOMPARE(messages.shown.size(), 1);
        QVERIFY(messages.shown[0].prompt.contains(QLatin1String("temporary file")));
        QVERIFY(allWarnings(messages));
    }
};

QTEST_MAIN(TestWebOpen)
#include "tst_web_open.moc"
