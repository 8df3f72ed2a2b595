#include "fakes/SmallDisk.h"

#include <QByteArray>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

QString SmallDisk::mount(const QString &dir, qint64 bytes)
{
    static bool unshared = false;
    if (!unshared) {
        if (::geteuid() != 0)
            return u"a private tmpfs needs root"_s;
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            return u"no private mount namespace: "_s + QString::fromLocal8Bit(strerror(errno));
        unshared = true;
    }
    const QByteArray options = "size=" + QByteArray::number(bytes);
    if (::mount("vantrel-test", QFile::encodeName(dir).constData(), "tmpfs", 0,
                options.constData()) != 0)
        return u"tmpfs: "_s + QString::fromLocal8Bit(strerror(errno));
    return {};
}

bool SmallDisk::fill(const QString &dir, qint64 leaveFree)
{
    const QByteArray path = QFile::encodeName(dir + u"/.filler"_s);
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0)
        return false;
    const QByteArray block(4096, 'f');
    qint64 size = 0;
    for (ssize_t n; (n = ::write(fd, block.constData(), block.size())) > 0;)
        size += n;
    const bool full =
        errno == ENOSPC && ::ftruncate(fd, std::max<qint64>(0, size - leaveFree)) == 0;
    ::close(fd);
    return full;
}

void SmallDisk::unmount(const QString &dir)
{
    ::umount2(QFile::encodeName(dir).constData(), MNT_DETACH);
}
