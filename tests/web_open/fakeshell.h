#pragma once

#include "support/testsupport.h"
#include "web_open/webopen.h"

#include <QDir>
#include <QFile>
#include <QList>
#include <QString>
#include <QTemporaryDir>

namespace kestrella::test {

// Records what the opener would have started, and how many messages had been shown by then, instead of starting it.
class FakeShell : public DesktopShell
{
public:
    enum class Kind
    {
        Browser,
        Desktop,
        Fallback
    };
    struct Start
    {
        Kind kind;
        QString argument;
        qsizetype messagesBefore;
    };

    explicit FakeShell(const ScriptedMessages* messages = nullptr)
        : m_messages(messages)
    {
        DesktopShell::install(this);
    }
    ~FakeShell() override { DesktopShell::install(nullptr); }

    std::unique_ptr<DesktopApp> defaultAppFor(const QString& filePath) override
    {
        lookedUpFile = filePath;
        lookedUpPermissions = QFile(filePath).permissions();
        if (!hasBrowser)
            return nullptr;
        return std::make_unique<Browser>(*this);
    }
    bool openWithDesktop(const QString& address) override { return record(Kind::Desktop, address, desktopOpens); }
    bool startFallback(const QString& address) override { return record(Kind::Fallback, address, fallbackStarts); }

    bool hasBrowser = true;
    bool browserStarts = true;
    bool desktopOpens = true;
    bool fallbackStarts = true;

    QList<Start> starts;
    QString lookedUpFile;
    QFile::Permissions lookedUpPermissions;

private:
    class Browser : public DesktopApp
    {
    public:
        explicit Browser(FakeShell& shell)
            : m_shell(shell)
        {
        }
        bool start(const QString& argument) override
        {
            return m_shell.record(Kind::Browser, argument, m_shell.browserStarts);
        }

    private:
        FakeShell& m_shell;
    };

    bool record(Kind kind, const QString& argument, bool result)
    {
        starts.append({kind, argument, m_messages ? m_messages->shown.size() : 0});
        return result;
    }

    const ScriptedMessages* m_messages;
};

// A private desktop for the real shell: its one browser, also the opener of web addresses, is a stand-in that
// writes down its arguments, so no real browser can start. Make it before GLib first reads the XDG folders.
class StandInDesktop
{
public:
    StandInDesktop()
    {
        const QString script = path("stand-in-browser");
        QDir().mkpath(path("starts"));
        writeFileBytes(script, QStringLiteral("#!/bin/sh\nf='%1/'$$\nprintf '%s\\0' \"$@\" > \"$f.tmp\" && "
                                              "mv \"$f.tmp\" \"$f\"\n")
                                   .arg(path("starts"))
                                   .toUtf8());
        QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QDir().mkpath(path("data/applications"));
        writeFileBytes(path("data/applications/stand-in-browser.desktop"),
                       QStringLiteral("[Desktop Entry]\nType=Application\nName=Stand-in browser\nExec=%1 %u\nPath=%2\n"
                                      "MimeType=text/html;x-scheme-handler/http;x-scheme-handler/https;\n")
                           .arg(script, m_root.path())
                           .toUtf8());
        QDir().mkpath(path("config"));
        writeFileBytes(path("config/mimeapps.list"), "[Default Applications]\ntext/html=stand-in-browser.desktop\n"
                                                     "x-scheme-handler/http=stand-in-browser.desktop\n"
                                                     "x-scheme-handler/https=stand-in-browser.desktop\n");
        usePrivateDesktop(m_root.path());
    }

    QString path(const QString& name) const { return m_root.filePath(name); }

    // The argument lists of the stand-in's finished starts, taken away so the next look sees only newer ones.
    QList<QStringList> takeStarts() const
    {
        QList<QStringList> starts;
        QDir folder(path("starts"));
        for (const QString& name : folder.entryList(QDir::Files)) {
            if (name.endsWith(QLatin1String(".tmp")))
                continue;
            QList<QByteArray> arguments = fileBytes(folder.filePath(name)).split('\0');
            arguments.removeLast();
            QStringList start;
            for (const QByteArray& argument : arguments)
                start << QString::fromUtf8(argument);
            starts << start;
            folder.remove(name);
        }
        return starts;
    }

private:
    QTemporaryDir m_root;
};

} // namespace kestrella::test
