#include "about_box/frmabout.h"
#include "app/appinfo.h"
#include "support/fakeshell.h"
#include "support/testsupport.h"
#include "web_open/webopen.h"

#include <QDir>
#include <QPushButton>
#include <QTest>

using namespace kestrella;
using namespace kestrella::test;

namespace {

// A private desktop whose one program for web pages is a stand-in browser that writes down its arguments, so no
// real browser can start. Made before GLib first reads the XDG folders, which it reads once.
class StandInDesktop
{
public:
    StandInDesktop()
    {
        const QString browser = path("browser");
        writeFileBytes(browser, QStringLiteral("#!/bin/sh\nprintf '%s\\0' \"$@\" > '%1.tmp' && mv '%1.tmp' '%1'\n")
                                    .arg(path("arguments"))
                                    .toUtf8());
        QFile::setPermissions(browser, QFile::ReadOwner | QFile::ExeOwner);
        QDir(m_root.path()).mkdir(QStringLiteral("applications"));
        writeFileBytes(path("applications/browser.desktop"),
                       QStringLiteral("[Desktop Entry]\nType=Application\nName=Browser\nExec=%1 %u\n"
                                      "MimeType=text/html;x-scheme-handler/http;x-scheme-handler/https;\n")
                           .arg(browser)
                           .toUtf8());
        writeFileBytes(path("mimeapps.list"), "[Default Applications]\ntext/html=browser.desktop\n"
                                              "x-scheme-handler/http=browser.desktop\n"
                                              "x-scheme-handler/https=browser.desktop\n");
        // The system's MIME database tells an .htm file for a web page; no other desktop entry is seen.
        QFile::link(QStringLiteral("/usr/share/mime"), path("mime"));
        for (const char* folders : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_DATA_DIRS", "XDG_CONFIG_DIRS"})
            qputenv(folders, QFile::encodeName(m_root.path()));
        qputenv("GIO_USE_VFS", "local");
    }

    QString path(const char* name) const { return m_root.filePath(QLatin1String(name)); }

private:
    QTemporaryDir m_root;
};

} // namespace

class TestWebOpen : public QObject
{
    Q_OBJECT

private slots:
    void eachAddressReachesOnlyWhatItMay_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("passToBrowser");
        QTest::addColumn<QString>("refused"); // what fails: browser, desktop, fallback, look-up (no browser)
        QTest::addColumn<QStringList>("started");

        const QString odd = QStringLiteral("http://example.test/a b?x=$(touch f);'\"");
        const QString browser = "browser " + odd, fallback = "fallback " + odd, desktop = "desktop " + odd;
        QTest::newRow("no browser: told, nothing started") << odd << true << "look-up" << QStringList{};
        QTest::newRow("refused browser: fallback, told") << odd << true << "browser" << QStringList{browser, fallback};
        QTest::newRow("refused fallback too: told once")
            << odd << true << "browser fallback" << QStringList{browser, fallback};
        QTest::newRow("fallback refuses a local file")
            << "file:///etc/passwd" << true << "browser" << QStringList{"browser file:///etc/passwd"};
        QTest::newRow("refused desktop opener: fallback")
            << odd << false << "desktop" << QStringList{desktop, fallback};
        QTest::newRow("desktop opener refuses a local path") << "/bin/sh" << false << "" << QStringList{};

        // Never handed to anything: read as an option, or split into two addresses by a line-based reader.
        const std::pair<const char*, QString> unsafe[] = {
            {"leading dash", "--new-window http://example.test"},
            {"line feed", "http://example.test/\nhttp://other.test"},
            {"carriage return", "http://example.test/\r"},
            {"line separator", QStringLiteral("http://example.test/") + QChar::LineSeparator},
        };
        for (const auto& [what, url] : unsafe)
            QTest::addRow("%s to the browser", what) << url << true << "browser" << QStringList{};
        // The desktop opener goes through the same check, behind its own that lets only web addresses by.
        QTest::newRow("line feed to the desktop opener") << unsafe[1].second << false << "" << QStringList{};
    }
    void eachAddressReachesOnlyWhatItMay()
    {
        QFETCH(QString, url);
        QFETCH(bool, passToBrowser);
        QFETCH(QString, refused);
        QFETCH(QStringList, started);
        ScriptedMessages messages;
        FakeShell shell;
        shell.refused = refused;
        OpenWebPage(nullptr, url, passToBrowser);

        QCOMPARE(shell.starts, started);
        QCOMPARE(messages.shown.size(), 1); // each row is a refusal or a failure, told once
        // The browser look-up's file is private to it and gone once the call returns.
        QCOMPARE(shell.lookedUpPermissions & (QFile::ReadGroup | QFile::ReadOther), QFile::Permissions());
        QVERIFY(!QFile::exists(shell.lookedUpFile));
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
        for (const char* leftover : {"arguments", "f"})
            QFile::remove(m_desktop.path(leftover));
        ScriptedMessages messages;
        OpenWebPage(nullptr, url, passToBrowser);

        QVERIFY(messages.shown.isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(m_desktop.path("arguments")), 10000);
        QCOMPARE(QString::fromUtf8(fileBytes(m_desktop.path("arguments"))), url + QChar(0));
        QVERIFY(!QFile::exists(m_desktop.path("f")));
    }

    // The About box is one box; its site button opens the home site, and OK, Enter and Esc each end it.
    void theAboutBoxOpensTheSiteAndCloses_data()
    {
        QTest::addColumn<int>("key"); // 0: a click on OK
        QTest::newRow("OK") << 0;
        QTest::newRow("Enter") << int(Qt::Key_Return);
        QTest::newRow("Esc") << int(Qt::Key_Escape);
    }
    void theAboutBoxOpensTheSiteAndCloses()
    {
        QFETCH(int, key);
        ScriptedMessages messages;
        FakeShell shell;
        QPointer<frmAbout> box = frmAbout::showInstance();
        QVERIFY(QTest::qWaitForWindowActive(box));
        box->findChild<QPushButton*>("cmdSysInfo")->click();
        QCOMPARE(shell.starts, QStringList{"browser " + HomeSiteAddress});
        QCOMPARE(frmAbout::showInstance(), box.data());

        if (key)
            QTest::keyClick(box, Qt::Key(key));
        else
            QTest::mouseClick(box->findChild<QPushButton*>("cmdOK"), Qt::LeftButton);
        QVERIFY(!frmAbout::instance());
        QTRY_VERIFY(box.isNull());
    }

private:
    const StandInDesktop m_desktop; // before anything asks GLib for an application
};

QTEST_MAIN(TestWebOpen)
#include "tst_web_open.moc"
