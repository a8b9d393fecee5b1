#include "migrate/durable.h"

#include "app/errors.h"

#include <QCryptographicHash>
#include <QFile>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrella::durable {
namespace {

[[noreturn]] void fail(const QString& what, const QString& path, int error = errno)
{
    throw AppError(error, QStringLiteral("%1 %2: %3").arg(what, path, QString::fromLocal8Bit(std::strerror(error))));
}

QByteArray name(const QString& path)
{
    return QFile::encodeName(path);
}

// Closes a descriptor however the block is left.
struct Descriptor
{
    int fd;
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

int openRead(const QString& path, int extra = 0)
{
    int fd;
    do
        fd = ::open(name(path).constData(), O_RDONLY | O_CLOEXEC | extra);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        fail(QStringLiteral("Cannot open"), path);
    return fd;
}

void sync(int fd, const QString& path)
{
    if (::fsync(fd) != 0 && errno != EINVAL) // EINVAL: a folder on a file system that cannot sync one
        fail(QStringLiteral("Cannot sync"), path);
}

} // namespace

int createOwnerOnly(const QString& path)
{
    const int fd = ::open(name(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        fail(QStringLiteral("Cannot create"), path);
    // The umask may have taken more away, never added: make sure the owner can write it.
    ::fchmod(fd, 0600);
    return fd;
}

// Reads a file to its end a chunk at a time, handing each chunk over.
template <typename Chunk>
void readChunks(int fd, const QString& path, Chunk&& chunk)
{
    QByteArray buffer(1 << 16, Qt::Uninitialized);
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), size_t(buffer.size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            fail(QStringLiteral("Cannot read"), path);
        if (n == 0)
            return;
        chunk(QByteArrayView(buffer.constData(), n));
    }
}

QByteArray copyOwnerOnly(const QString& from, const QString& to)
{
    Descriptor in{openRead(from)};
    Descriptor out{createOwnerOnly(to)};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    try {
        readChunks(in.fd, from, [&](QByteArrayView data) {
            hash.addData(data);
            for (qsizetype done = 0; done < data.size();) {
                const ssize_t w = ::write(out.fd, data.data() + done, size_t(data.size() - done));
                if (w < 0 && errno == EINTR)
                    continue;
                if (w <= 0)
                    fail(QStringLiteral("Cannot write"), to, w < 0 ? errno : ENOSPC);
                done += w;
            }
        });
        sync(out.fd, to);
        if (::close(std::exchange(out.fd, -1)) != 0)
            fail(QStringLiteral("Cannot write"), to);
    } catch (...) {
        ::unlink(name(to).constData());
        throw;
    }
    return hash.result();
}

QByteArray digest(const QString& path)
{
    Descriptor in{openRead(path)};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    readChunks(in.fd, path, [&](QByteArrayView data) { hash.addData(data); });
    return hash.result();
}

void syncFile(const QString& path)
{
    Descriptor fd{openRead(path, O_NOFOLLOW)};
    sync(fd.fd, path);
}

void syncFolder(const QString& folder)
{
    Descriptor fd{openRead(folder, O_DIRECTORY)};
    sync(fd.fd, folder);
}

bool renameNoReplace(const QString& from, const QString& to)
{
    if (::renameat2(AT_FDCWD, name(from).constData(), AT_FDCWD, name(to).constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno == EEXIST)
        return false;
    if (errno != EINVAL && errno != ENOSYS)
        fail(QStringLiteral("Cannot rename to"), to);
    // A file system without that kind of rename: a hard link never replaces either.
    if (::link(name(from).constData(), name(to).constData()) != 0) {
        if (errno == EEXIST)
            return false;
        fail(QStringLiteral("Cannot rename to"), to);
    }
    ::unlink(name(from).constData());
    return true;
}

void replace(const QString& from, const QString& to)
{
    if (std::rename(name(from).constData(), name(to).constData()) != 0)
        fail(QStringLiteral("Cannot rename to"), to);
}

void remove(const QString& path)
{
    if (::unlink(name(path).constData()) != 0 && errno != ENOENT)
        fail(QStringLiteral("Cannot remove"), path);
}

} // namespace kestrella::durable
