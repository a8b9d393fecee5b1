#include "app/appinfo.h"
#include "support/testsupport.h"
#include "web_open/fakeshell.h"
#include "web_open/webopen.h"

#include <QApplication>
#include <QTest>

using namespace kestrella;
using namespace kestrella::test;

namespace {

// What the stand-in shell refuses, or the environment lacks.
constexpr int NoBrowser = 1, BrowserFails = 2, FallbackFails = 4, DesktopFails = 8, NoTemporaryFolder = 16;

const QString PageFailed = QStringLiteral("Web page failed to be opened.");

QStringList described(const QList<FakeShell::Start>& starts)
{
    static const char* const kinds[] = {"browser", "desktop", "fallback"};
    QStringList result;
    for (const FakeShell::Start& start : starts)
        result << QLatin1String(kinds[int(start.kind)]) + u' ' + start.argument;
    return result;
}

} // namespace

class TestWebOpen : public QObject
{
    Q_OBJECT

public:
    explicit TestWebOpen(const StandInDesktop& desktop)
        : m_desktop(desktop)
    {
    }

private slots:
    void eachAddressReachesOnlyWhatItMay_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("passToBrowser");
        QTest::addColumn<int>("faults");
        QTest::addColumn<QStringList>("started");
        QTest::addColumn<QString>("told"); // the start of the one message shown; empty: none

        const QString odd = QStringLiteral("http://example.test/a b?x=$(touch f);'\"");
        QTest::newRow("browser gets blanks and shell characters as one argument")
            << odd << true << 0 << QStringList{"browser " + odd} << "";
        QTest::newRow("browser gets an empty address as one argument")
            << "" << true << 0 << QStringList{"browser "} << "";
        QTest::newRow("no browser: told, nothing started")
            << HomeSiteAddress << true << int(NoBrowser) << QStringList{} << "Could not open your browser!";
        QTest::newRow("no temporary folder: told, nothing started")
            << HomeSiteAddress << true << int(NoTemporaryFolder) << QStringList{} << "Could not look for your browser";
        QTest::newRow("refused browser: fallback, then told once")
            << odd << true << int(BrowserFails) << QStringList{"browser " + odd, "fallback " + odd} << PageFailed;
        QTest::newRow("refused fallback too: told once")
            << "https://example.test" << true << int(BrowserFails | FallbackFails)
            << QStringList{"browser https://example.test", "fallback https://example.test"} << PageFailed;
        QTest::newRow("fallback puts a scheme before www")
            << "www.example.test" << true << int(BrowserFails)
            << QStringList{"browser www.example.test", "fallback http://www.example.test"} << PageFailed;
        for (const char* local : {"/etc/passwd", "file:///etc/passwd", "javascript:alert(1)"}) {
            QTest::addRow("fallback refuses %s", local)
                << local << true << int(BrowserFails) << QStringList{QStringLiteral("browser ") + local} << PageFailed;
        }
        QTest::newRow("desktop opener gets a web address")
            << HomeSiteAddress << false << 0 << QStringList{"desktop " + HomeSiteAddress} << "";
        QTest::newRow("refused desktop opener: fallback")
            << HomeSiteAddress << false << int(DesktopFails)
            << QStringList{"desktop " + HomeSiteAddress, "fallback " + HomeSiteAddress} << PageFailed;
        QTest::newRow("desktop opener refuses a local path") << "/bin/sh" << false << 0 << QStringList{} << PageFailed;

        // Never handed to anything: read as an option, or split into two addresses by a line-based reader.
        const QList<std::pair<const char*, QString>> unsafe = {
            {"leading dash", "--new-window http://example.test"},
            {"line feed", "http://example.test/\nhttp://other.test"},
            {"carriage return", "http://example.test/\r"},
            {"NUL", QStringLiteral("http://example.test/") + QChar(0) + u'x'},
            {"line separator", QStringLiteral("http://example.test/") + QChar::LineSeparator},
        };
        for (const auto& [what, url] : unsafe) {
            for (const bool passToBrowser : {true, false}) {
                QTest::addRow("%s to the %s", what, passToBrowser ? "browser" : "desktop opener")
                    << url << passToBrowser << int(BrowserFails) << QStringList{} << PageFailed;
            }
        }
    }
    void eachAddressReachesOnlyWhatItMay()
    {
        QFETCH(QString, url);
        QFETCH(bool, passToBrowser);
        QFETCH(int, faults);
        QFETCH(QStringList, started);
        QFETCH(QString, told);
        ScriptedMessages messages;
        FakeShell shell;
        shell.hasBrowser = !(faults & NoBrowser);
        shell.browserStarts = !(faults & BrowserFails);
        shell.fallbackStarts = !(faults & FallbackFails);
        shell.desktopOpens = !(faults & DesktopFails);
        const QByteArray temporaryFolder = qgetenv("TMPDIR");
        if (faults & NoTemporaryFolder)
            qputenv("TMPDIR", "/nonexistent-kestrella-folder");
        OpenWebPage(nullptr, url, passToBrowser);
        temporaryFolder.isNull() ? qunsetenv("TMPDIR") : qputenv("TMPDIR", temporaryFolder);

        QCOMPARE(described(shell.starts), started);
        QCOMPARE(messages.shown.size(), told.isEmpty() ? 0 : 1);
        if (!told.isEmpty())
            QVERIFY2(messages.shown[0].prompt.startsWith(told), qPrintable(messages.shown[0].prompt));
        // The browser look-up's file is private to it and gone once the call returns.
        QCOMPARE(shell.lookedUpFile.isEmpty(), bool(faults & NoTemporaryFolder));
        if (!shell.lookedUpFile.isEmpty()) {
            QCOMPARE(shell.lookedUpPermissions &
                         (QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther),
                     QFile::Permissions());
            QVERIFY(!QFile::exists(shell.lookedUpFile));
        }
    }

    // The real desktop shell, on a desktop whose only browser is the stand-in.
    void theDesktopStartsTheBrowserWithOneArgumentAndNoShell_data()
    {
        QTest::addColumn<bool>("passToBrowser");
        QTest::newRow("browser") << true;
        QTest::newRow("desktop opener") << false;
    }
    void theDesktopStartsTheBrowserWithOneArgumentAndNoShell()
    {
        QFETCH(bool, passToBrowser);
        // Through a shell, quoted in any way, one of the two commands would run.
        const QString url =
            QStringLiteral("https://example.test/a b?q=$(touch %1)'$(touch %1)'").arg(m_desktop.path("f"));
        QFile::remove(m_desktop.path("f"));
        ScriptedMessages messages;
        OpenWebPage(nullptr, url, passToBrowser);

        QVERIFY(messages.shown.isEmpty());
        QList<QStringList> starts;
        QTRY_VERIFY_WITH_TIMEOUT((starts += m_desktop.takeStarts(), !starts.isEmpty()), 10000);
        QCOMPARE(starts, QList<QStringList>{{url}});
        QVERIFY(!QFile::exists(m_desktop.path("f")));
    }

private:
    const StandInDesktop& m_desktop;
};

int main(int argc, char* argv[])
{
    const StandInDesktop desktop; // GLib reads the XDG folders once, on first use
    QApplication app(argc, argv);
    TestWebOpen test(desktop);
    return QTest::qExec(&test, argc, argv);
}

#include "tst_web_open.moc"
