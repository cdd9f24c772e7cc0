#include "atomicfile.h"

#include "sqlite.h"

#include <sqlite3.h>

#include <QFile>
#include <QFileInfo>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using sqlite::failIf;

namespace {

void removeQuietly(const QString &path)
{
    QFile::remove(path);
}

// Takes the empty temporary file a new database is built in, readable by its owner only (it holds personal data),
// and returns the lock that keeps it. What an interrupted start left there is started again; a start building it
// right now holds the lock, so this one waits and then finds that start's database in place.
int takePendingFile(const QString &pending, const QString &path, bool replacing)
{
#ifdef _WIN32
    removeQuietly(pending);
    removeQuietly(pending + QLatin1String("-journal"));
    QFile file(pending);
    failIf(!file.open(QIODevice::NewOnly | QIODevice::WriteOnly), SQLITE_CANTOPEN, file.errorString());
    return -1;
#else
    const QByteArray name = QFile::encodeName(pending);
    for (int attempt = 0; attempt < 100; ++attempt) {
        failIf(!replacing && QFileInfo::exists(path), SQLITE_CANTOPEN,
               QStringLiteral("Il database %1 esiste già.").arg(path));
        const int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0 && errno == ELOOP) {
            ::unlink(name.constData());
            continue;
        }
        failIf(fd < 0, SQLITE_CANTOPEN, QString::fromLocal8Bit(std::strerror(errno)));
        // A file system without locks takes the file as it is.
        while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
        }
        struct stat held {}, named {};
        if (::fstat(fd, &held) == 0 && ::stat(name.constData(), &named) == 0 && held.st_dev == named.st_dev &&
            held.st_ino == named.st_ino) {
            ::unlink((name + "-journal").constData());
            if (::ftruncate(fd, 0) == 0 && ::fchmod(fd, 0600) == 0)
                return fd;
            const int error = errno;
            ::close(fd);
            throw EngineError(SQLITE_CANTOPEN, QString::fromLocal8Bit(std::strerror(error)));
        }
        // Finished or given up while this start waited: look again.
        ::close(fd);
    }
    throw EngineError(SQLITE_CANTOPEN, QStringLiteral("impossibile creare %1").arg(path));
#endif
}

void releaseLock(int lock)
{
#ifndef _WIN32
    if (lock >= 0)
        ::close(lock);
#endif
}

void syncFolderOf(const QString &path)
{
#ifndef _WIN32
    const int dir = ::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(), O_RDONLY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
#else
    Q_UNUSED(path);
#endif
}

// Moves the finished file into place, over the file it replaces or never over an existing one, and makes the
// move durable.
void moveIntoPlace(const QString &from, const QString &to, bool replacing)
{
#ifdef _WIN32
    const bool moved = MoveFileExW(reinterpret_cast<LPCWSTR>(from.utf16()), reinterpret_cast<LPCWSTR>(to.utf16()),
                                   MOVEFILE_WRITE_THROUGH | (replacing ? MOVEFILE_REPLACE_EXISTING : 0));
    failIf(!moved, SQLITE_CANTOPEN, QStringLiteral("impossibile creare %1").arg(to));
#else
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
    int result = replacing ? ::rename(source.constData(), target.constData())
                           : ::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE);
    if (!replacing && result != 0 && (errno == EINVAL || errno == ENOSYS)) {
        // File systems without an atomic no-replace rename: a hard link refuses an existing target too.
        result = ::link(source.constData(), target.constData());
        if (result == 0)
            ::unlink(source.constData());
    }
    failIf(result != 0, SQLITE_CANTOPEN, QString::fromLocal8Bit(std::strerror(errno)));
#endif
    syncFolderOf(to);
}

// Whether `name` already is the file at `path`: the second name an interrupted replacement gave it.
bool sameFile(const QString &path, const QString &name)
{
#ifdef _WIN32
    Q_UNUSED(path);
    Q_UNUSED(name);
    return false;
#else
    struct stat first {}, second {};
    return ::lstat(QFile::encodeName(path).constData(), &first) == 0 &&
           ::lstat(QFile::encodeName(name).constData(), &second) == 0 && first.st_dev == second.st_dev &&
           first.st_ino == second.st_ino;
#endif
}

bool hardLink(const QString &path, const QString &name)
{
#ifdef _WIN32
    return CreateHardLinkW(reinterpret_cast<LPCWSTR>(name.utf16()), reinterpret_cast<LPCWSTR>(path.utf16()), nullptr);
#else
    return ::link(QFile::encodeName(path).constData(), QFile::encodeName(name).constData()) == 0;
#endif
}

// Gives the file at `path` a second name, `kept` or the first free one of kept.1, kept.2, ..., and makes it
// durable: a hard link where the file system has them (atomic, and it costs nothing), a synced copy elsewhere.
// No existing file is ever overwritten.
void keepFile(const QString &path, const QString &kept)
{
    for (int n = 0;; ++n) {
        const QString name = n == 0 ? kept : kept + QLatin1Char('.') + QString::number(n);
        if (sameFile(path, name))
            return;
        if (QFileInfo::exists(name) || QFileInfo(name).isSymLink())
            continue;
        if (!hardLink(path, name)) {
            // Taken meanwhile: the next name.
            if (QFileInfo::exists(name))
                continue;
            QFile copy(name);
            failIf(!QFile::copy(path, name) || !copy.open(QIODevice::ReadWrite), SQLITE_CANTOPEN,
                   QStringLiteral("impossibile conservare %1 come %2").arg(path, name));
#ifdef _WIN32
            failIf(!FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(copy.handle()))), SQLITE_IOERR_FSYNC,
                   QStringLiteral("impossibile salvare %1 sul disco").arg(name));
#else
            failIf(::fsync(copy.handle()) != 0, SQLITE_IOERR_FSYNC, QString::fromLocal8Bit(std::strerror(errno)));
#endif
        }
        syncFolderOf(name);
        return;
    }
}


} // namespace

PendingFile::PendingFile(const QString &path, const QString &keptPath)
    : m_path(path), m_keptPath(keptPath), m_pending(path + QLatin1String(".tmp"))
{
    m_lock = takePendingFile(m_pending, path, !keptPath.isEmpty());
}

PendingFile::~PendingFile()
{
    if (!m_placed) {
        removeQuietly(m_pending);
        removeQuietly(m_pending + QLatin1String("-journal"));
    }
    releaseLock(m_lock);
}

void PendingFile::putInPlace()
{
    if (!m_keptPath.isEmpty())
        keepFile(m_path, m_keptPath);
    moveIntoPlace(m_pending, m_path, !m_keptPath.isEmpty());
    m_placed = true;
}
