#include "cli/OutputTarget.h"

#include <QDir>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

OutputTarget::OutputTarget(const QString &path)
    : m_path(path)
    , m_file(path)
{}

QString OutputTarget::name() const
{
    return m_path.isEmpty() ? u"standard output"_s : QDir::toNativeSeparators(m_path);
}

bool OutputTarget::open()
{
    if (m_path.isEmpty()) {
        // Bytes pass unchanged (CR LF stays CR LF); standard output stays open for others.
        if (m_direct.open(STDOUT_FILENO, QIODevice::WriteOnly, QFileDevice::DontCloseHandle))
            return true;
        m_error = m_direct.errorString();
        return false;
    }
    // Links are followed as for a file that is replaced, so none planted in a shared folder
    // leads to a device either.
    const AtomicFile::Target target = AtomicFile::follow(m_path);
    struct stat st;
    const bool device = target.refusal.isEmpty() &&
                        ::stat(QFile::encodeName(target.path).constData(), &st) == 0 &&
                        !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
    if (!device) {
        if (m_file.open())
            return true;
        m_error = m_file.errorString();
        return false;
    }
    // What was checked is what is opened: a link put in its place is not followed.
    const int fd = ::open(QFile::encodeName(target.path).constData(),
                          O_WRONLY | O_CLOEXEC | O_NOCTTY | (target.procLink ? 0 : O_NOFOLLOW));
    if (fd < 0 || !m_direct.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)) {
        m_error = fd < 0 ? QString::fromLocal8Bit(std::strerror(errno)) : m_direct.errorString();
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    return true;
}

QIODevice &OutputTarget::device()
{
    return m_direct.isOpen() ? static_cast<QIODevice &>(m_direct) : m_file.device();
}

bool OutputTarget::commit()
{
    if (!m_direct.isOpen()) {
        if (!m_file.commit())
            m_error = m_file.errorString();
        return m_error.isEmpty();
    }
    if (!m_direct.flush() || m_direct.error() != QFileDevice::NoError) {
        m_error = m_direct.errorString();
        return false;
    }
    return true;
}
