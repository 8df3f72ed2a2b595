#include "app/AtomicFile.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

QString native(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

// The file a path names, a symbolic link followed (also a dangling one: the new file is
// then created where the link points).
QString resolve(const QString &path)
{
    const QFileInfo info(path);
    if (!info.isSymLink())
        return info.absoluteFilePath();
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? info.symLinkTarget() : canonical;
}

// Root may write anything, so for root a missing write bit is what marks a file or folder as
// read-only; everyone else gets the kernel's own answer, ACLs included.
bool writableByMode(const QString &path, const struct stat &st)
{
    if (::geteuid() == 0)
        return (st.st_mode & 0222) != 0;
    return ::access(QFile::encodeName(path).constData(), W_OK) == 0;
}

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

AtomicFile::AtomicFile(const QString &path)
    : m_path(path)
{}

AtomicFile::~AtomicFile() = default; // the temporary file goes with m_file unless committed

QString AtomicFile::refusal(const QString &path)
{
    const QString target = resolve(path);
    struct stat st;
    if (::stat(QFile::encodeName(target).constData(), &st) == 0) {
        if (!S_ISREG(st.st_mode))
            return u"%1 is not a regular file."_s.arg(native(target));
        if (!writableByMode(target, st))
            return u"Existing file %1 is not writable"_s.arg(native(target));
    } else if (errno != ENOENT) {
        return errnoText(errno);
    }
    const QString folder = QFileInfo(target).absolutePath();
    if (::stat(QFile::encodeName(folder).constData(), &st) != 0)
        return u"The folder %1 cannot be used: %2."_s.arg(native(folder), errnoText(errno));
    if (!S_ISDIR(st.st_mode) || !writableByMode(folder, st))
        return u"The folder %1 is not writable."_s.arg(native(folder));
    return {};
}

bool AtomicFile::open()
{
    m_error = refusal(m_path);
    if (!m_error.isEmpty())
        return false;
    m_target = resolve(m_path);
    m_file.setFileTemplate(m_target + u".XXXXXX"_s);
    m_file.setAutoRemove(true);
    if (!m_file.open()) {
        m_error = m_file.errorString();
        return false;
    }
    // The new file takes the old one's place, so it gets its mode and owner; a new file gets
    // what the user's umask allows.
    struct stat st;
    mode_t mode = 0;
    if (::stat(QFile::encodeName(m_target).constData(), &st) == 0) {
        mode = st.st_mode & 07777;
        if (::geteuid() == 0 && ::fchown(m_file.handle(), st.st_uid, st.st_gid) != 0)
            mode &= 0777; // no set-id bits on a file that kept our owner
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    if (::fchmod(m_file.handle(), mode) != 0) {
        m_error = errnoText(errno);
        return false;
    }
    return true;
}

bool AtomicFile::commit()
{
    if (m_target.isEmpty()) {
        m_error = u"The file is not open for writing."_s;
        return false;
    }
    // A buffered file reports a full disk only when its buffer is written out, which a
    // writer may never have checked: flush, sync and close are each checked here.
    if (m_file.isOpen()) {
        // A short write gives no reason; trying the rest again meets the real one.
        const bool flushed = m_file.flush() || m_file.flush();
        if (!flushed || ::fsync(m_file.handle()) != 0) {
            m_error =
                m_file.error() != QFileDevice::NoError ? m_file.errorString() : errnoText(errno);
            return false;
        }
        m_file.close();
    }
    if (m_file.error() != QFileDevice::NoError) {
        m_error = m_file.errorString();
        return false;
    }
    // The temporary file may have no name yet; asking for it gives it one.
    errno = 0;
    const QString temporary = m_file.fileName();
    if (temporary.isEmpty()) {
        m_error = errno != 0 ? errnoText(errno) : u"The new file could not be named."_s;
        return false;
    }
    if (::rename(QFile::encodeName(temporary).constData(),
                 QFile::encodeName(m_target).constData()) != 0) {
        m_error = u"The new file could not replace the old one: %1."_s.arg(errnoText(errno));
        return false;
    }
    m_file.setAutoRemove(false);
    return true;
}
