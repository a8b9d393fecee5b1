#pragma once

#include <QString>
#include <memory>

class QWidget;

namespace kestrella {

// An application the desktop has chosen for a kind of file.
class DesktopApp
{
public:
    virtual ~DesktopApp() = default;
    // Starts the application with exactly this one argument, never through a command shell.
    // Returns whether it started.
    virtual bool start(const QString& argument) = 0;
};

// The desktop shell: a narrow seam tests replace. The real one on Linux uses GIO; a Windows one would plug in here.
class DesktopShell
{
public:
    virtual ~DesktopShell() = default;

    // The application this desktop opens the given file with; nullptr when there is none.
    virtual std::unique_ptr<DesktopApp> defaultAppFor(const QString& filePath) = 0;
    // Lets the desktop open the address by its own association. Returns whether anything started.
    virtual bool openWithDesktop(const QString& address) = 0;
    // The last resort after the browser would not start: the desktop's default opener for the address.
    // Returns whether anything started.
    virtual bool startFallback(const QString& address) = 0;

    static DesktopShell& current();
    // Installs a shell (not owned); nullptr restores the real one.
    static void install(DesktopShell* shell);
};

// Shows the address in the user's default browser, which gets it unchanged as its one argument. With passToBrowser
// false the desktop opens it by its own association instead. Every failure is reported to the user here; the caller
// learns nothing.
void OpenWebPage(QWidget* parent, const QString& url, bool passToBrowser);

// The fallback when the browser would not start: the desktop's default opener, given web addresses only
// (http, https, or "www." to which "http://" is added). Returns whether it started; OpenWebPage tells the user.
bool OpenInExplorer(const QString& url);

} // namespace kestrella
