#include "web_open/webopen.h"

#include "app/messages.h"
#include "web_open/nativeshell.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>
#include <algorithm>
#include <optional>

namespace kestrella {
namespace {

DesktopShell* installedShell = nullptr;

const QString BrowserNotFoundCaption = QStringLiteral("Browser Not Found...");

// Another program would read a leading "-" as an option, and a control character (a line break above all) lets a
// line-based reader take one address for two: such text is never handed over.
bool safeToHandOver(const QString& address)
{
    if (address.startsWith(u'-'))
        return false;
    return std::none_of(address.cbegin(), address.cend(), [](QChar c) {
        return c.category() == QChar::Other_Control || c == QChar::LineSeparator || c == QChar::ParagraphSeparator;
    });
}

// The desktop's opener picks a program by the address's scheme, so it only ever gets a web address: a local file or
// another scheme could start anything at all.
std::optional<QString> webAddress(const QString& address)
{
    if (!safeToHandOver(address))
        return std::nullopt;
    if (address.startsWith(QLatin1String("http://"), Qt::CaseInsensitive) ||
        address.startsWith(QLatin1String("https://"), Qt::CaseInsensitive))
        return address;
    // The opener needs a scheme to choose a program.
    if (address.startsWith(QLatin1String("www."), Qt::CaseInsensitive))
        return QStringLiteral("http://") + address;
    return std::nullopt;
}

struct BrowserLookUp
{
    std::unique_ptr<DesktopApp> browser;
    std::optional<QString> fileError;
};

// The program the desktop opens an .htm file with is the user's browser. The placeholder file is private to this
// call (unique name, owner-only) and is removed when this returns, whatever the answer.
BrowserLookUp lookUpBrowser()
{
    // An unusable TMPDIR yields an empty path, which would put the file in the root folder.
    const QString folder = QDir::tempPath();
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        return {nullptr, QStringLiteral("the temporary folder is missing")};
    QTemporaryFile placeholder(folder + QStringLiteral("/kestrella-XXXXXX.htm"));
    if (!placeholder.open())
        return {nullptr, placeholder.errorString()};
    const QByteArray content("<HTML> <\\HTML>\n");
    if (placeholder.write(content) != content.size() || !placeholder.flush())
        return {nullptr, placeholder.errorString()};
    placeholder.close();
    return {DesktopShell::current().defaultAppFor(placeholder.fileName()), std::nullopt};
}

enum class Outcome
{
    Started,
    Refused,
    Failed
};

Outcome openPage(DesktopApp& browser, const QString& url, bool passToBrowser)
{
    if (passToBrowser) {
        if (!safeToHandOver(url))
            return Outcome::Refused;
        return browser.start(url) ? Outcome::Started : Outcome::Failed;
    }
    // The desktop's own opener is held to the same rule as the fallback: it would open a local file too.
    const std::optional<QString> address = webAddress(url);
    if (!address)
        return Outcome::Refused;
    return DesktopShell::current().openWithDesktop(*address) ? Outcome::Started : Outcome::Failed;
}

} // namespace

DesktopShell& DesktopShell::current()
{
    return installedShell ? *installedShell : nativeShell();
}

void DesktopShell::install(DesktopShell* shell)
{
    installedShell = shell;
}

void OpenWebPage(QWidget* parent, const QString& url, bool passToBrowser)
{
    const BrowserLookUp lookUp = lookUpBrowser();
    if (lookUp.fileError) {
        showWarning(parent,
                    QStringLiteral("Could not look for your browser: no temporary file could be written (%1).")
                        .arg(*lookUp.fileError),
                    BrowserNotFoundCaption);
        return;
    }
    if (!lookUp.browser) {
        showWarning(parent, QStringLiteral("Could not open your browser!"), BrowserNotFoundCaption);
        return;
    }
    switch (openPage(*lookUp.browser, url, passToBrowser)) {
    case Outcome::Started:
        return;
    case Outcome::Failed:
        // Whether or not the fallback starts, the user hears of the failure once, below.
        OpenInExplorer(url);
        break;
    case Outcome::Refused:
        break;
    }
    showWarning(parent, QStringLiteral("Web page failed to be opened."), QStringLiteral("Testing only did it work ?"));
}

bool OpenInExplorer(const QString& url)
{
    const std::optional<QString> address = webAddress(url);
    return address && DesktopShell::current().startFallback(*address);
}

} // namespace kestrella
