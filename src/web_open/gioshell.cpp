#include "web_open/nativeshell.h"
#include "web_open/webopen.h"

#include <QFile>
#include <gio/gio.h>

namespace kestrella {
namespace {

struct GObjectUnref
{
    void operator()(gpointer object) const { g_object_unref(object); }
};

template <typename T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref>;

class GioApp final : public DesktopApp
{
public:
    explicit GioApp(GAppInfo* info)
        : m_info(info)
    {
    }

    // GIO builds the argument list from the desktop entry's Exec line and starts the program directly: the
    // address stays one argument, whatever blanks or shell characters it holds.
    bool start(const QString& argument) override
    {
        const QByteArray uri = argument.toUtf8();
        GList* uris = g_list_append(nullptr, const_cast<char*>(uri.constData()));
        const bool started = g_app_info_launch_uris(m_info.get(), uris, nullptr, nullptr);
        g_list_free(uris);
        return started;
    }

private:
    GObjectPtr<GAppInfo> m_info;
};

bool launchDefaultForUri(const QString& address)
{
    return g_app_info_launch_default_for_uri(address.toUtf8().constData(), nullptr, nullptr);
}

class GioShell final : public DesktopShell
{
public:
    std::unique_ptr<DesktopApp> defaultAppFor(const QString& filePath) override
    {
        const GObjectPtr<GFile> file(g_file_new_for_path(QFile::encodeName(filePath).constData()));
        GAppInfo* info = g_file_query_default_handler(file.get(), nullptr, nullptr);
        if (!info)
            return nullptr;
        return std::make_unique<GioApp>(info);
    }

    bool openWithDesktop(const QString& address) override { return launchDefaultForUri(address); }

    bool startFallback(const QString& address) override { return launchDefaultForUri(address); }
};

} // namespace

DesktopShell& nativeShell()
{
    static GioShell shell;
    return shell;
}

} // namespace kestrella
