#pragma once

#include "web_open/webopen.h"

#include <QFile>
#include <QStringList>
#include <memory>

namespace kestrella::test {

// Records what the opener would have started ("browser <address>", "desktop ...", "fallback ...") instead of
// starting it. Each kind named in `refused` fails; with "look-up" there it finds no browser at all.
class FakeShell : public DesktopShell
{
public:
    FakeShell() { DesktopShell::install(this); }
    ~FakeShell() override { DesktopShell::install(nullptr); }

    std::unique_ptr<DesktopApp> defaultAppFor(const QString& filePath) override
    {
        lookedUpFile = filePath;
        lookedUpPermissions = QFile(filePath).permissions();
        return refused.contains(QLatin1String("look-up")) ? nullptr : std::make_unique<Browser>(*this);
    }
    bool openWithDesktop(const QString& address) override { return record(QStringLiteral("desktop"), address); }
    bool startFallback(const QString& address) override { return record(QStringLiteral("fallback"), address); }

    QString refused;
    QStringList starts;
    QString lookedUpFile;
    QFile::Permissions lookedUpPermissions;

private:
    struct Browser : DesktopApp
    {
        explicit Browser(FakeShell& shell)
            : shell(shell)
        {
        }
        bool start(const QString& argument) override { return shell.record(QStringLiteral("browser"), argument); }
        FakeShell& shell;
    };

    bool record(const QString& kind, const QString& argument)
    {
        starts << kind + u' ' + argument;
        return !refused.contains(kind);
    }
};

} // namespace kestrella::test
