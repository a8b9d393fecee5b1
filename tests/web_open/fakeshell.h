#pragma once

#include "support/testsupport.h"
#include "web_open/webopen.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>

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
        QFile file(filePath);
        lookedUpPermissions = file.permissions();
        if (file.open(QIODevice::ReadOnly))
            lookedUpContent = file.readAll();
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
    QByteArray lookedUpContent;
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

} // namespace kestrella::test
