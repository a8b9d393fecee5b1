#include "support/testsupport.h"
#include "web_open/webopen.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using namespace kestrella;

namespace {

void writeFile(const QString& path, const QByteArray& content, QFile::Permissions permissions = {})
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    test::writeFileBytes(path, content);
    if (permissions)
        QFile::setPermissions(path, permissions);
}

// A desktop of our own: a stand-in browser, a shell script that writes down its arguments, is the default for
// HTML. The system's own applications stay out of sight, so no real browser can start; only the shared MIME
// database is borrowed, which GIO needs to type the placeholder file.
void prepareDesktop(const QString& root)
{
    const QString script = root + "/standin-browser.sh";
    writeFile(script,
              QStringLiteral("#!/bin/sh\n{ echo \"$#\"; printf '%s\\n' \"$@\"; } > '%1/args.tmp' && "
                             "mv '%1/args.tmp' '%1/args'\n")
                  .arg(root)
                  .toUtf8(),
              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    writeFile(root + "/data/applications/standin-browser.desktop",
              QStringLiteral("[Desktop Entry]\nType=Application\nName=Stand-in browser\nExec=%1 %u\nPath=%2\n"
                             "MimeType=text/html;\n")
                  .arg(script, root)
                  .toUtf8());
    writeFile(root + "/config/mimeapps.list", "[Default Applications]\ntext/html=standin-browser.desktop\n");
    kestrella::test::usePrivateDesktop(root);
}

} // namespace

class TestWebOpenGio : public QObject
{
    Q_OBJECT

public:
    explicit TestWebOpenGio(QString root)
        : m_root(std::move(root))
    {
    }

private slots:
    void theRealShellStartsTheBrowserWithTheAddressAsOneArgument()
    {
        const QString url = QStringLiteral("http://example.test/a b?x=$(touch f)");
        test::ScriptedMessages messages;
        QDir::setCurrent(m_root);
        OpenWebPage(nullptr, url, true);

        QVERIFY(messages.shown.isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(m_root + "/args"), 10000);
        QCOMPARE(test::fileBytes(m_root + "/args"), QByteArray("1\n") + url.toUtf8() + '\n');
        QVERIFY(!QFile::exists(m_root + "/f"));
    }

private:
    QString m_root;
};

int main(int argc, char* argv[])
{
    // GLib reads the XDG folders once, on first use: the stand-in desktop must be in place before anything starts.
    QTemporaryDir root;
    if (!root.isValid())
        return 1;
    prepareDesktop(root.path());
    QApplication app(argc, argv);
    TestWebOpenGio test(root.path());
    return QTest::qExec(&test, argc, argv);
}

#include "tst_web_open_gio.moc"
