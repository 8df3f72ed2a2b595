#include "app/AtomicFile.h"

#include <QDir>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

QString native(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

// The folder holding `path` (absolute), as written: the kernel resolves it when the file in
// it is opened or renamed.
QString folderOf(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(u'/');
    return slash <= 0 ? u"/"_s : path.left(slash);
}

// A link in a sticky folder anyone may write to is followed only when it is the follower's
// own or the folder owner's: anyone could have planted it there.
bool mayFollow(const struct stat &link, const struct stat &folder)
{
    const bool shared = (folder.st_mode & S_ISVTX) && (folder.st_mode & S_IWOTH);
    return !shared || link.st_uid == ::geteuid() || link.st_uid == folder.st_uid;
}

// The last name of `path` shortened so that the temporary file's name, 7 bytes longer, still
// fits in the folder; cut between characters.
QString temporaryBase(const QString &path, const QString &folder)
{
    QByteArray name = QFile::encodeName(path.mid(path.lastIndexOf(u'/') + 1));
    const long maximum = ::pathconf(QFile::encodeName(folder).constData(), _PC_NAME_MAX);
    const qsizetype fits = (maximum > 0 ? maximum : NAME_MAX) - 7;
    if (name.size() <= fits)
        return QFile::decodeName(name);
    name.truncate(fits);
    while (!name.isEmpty() && (uchar(name.back()) & 0xc0) == 0x80)
        name.chop(1); // a character's trailing bytes
    if (!name.isEmpty() && uchar(name.back()) >= 0xc0)
        name.chop(1); // its leading byte
    return QFile::decodeName(name);
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

QString folderRefusal(const QString &folder, int error)
{
    return u"The folder %1 cannot be used: %2."_s.arg(native(folder), errnoText(error));
}

// Why the file `target` (no link) may not be replaced or created; "" when it may.
QString replaceRefusal(const QString &target)
{
    const QByteArray name = QFile::encodeName(target);
    struct stat st;
    const bool exists = ::stat(name.constData(), &st) == 0;
    if (exists) {
        if (!S_ISREG(st.st_mode))
            return u"%1 is not a regular file."_s.arg(native(target));
        if (!writableByMode(target, st))
            return u"Existing file %1 is not writable"_s.arg(native(target));
    } else if (errno != ENOENT) {
        return errnoText(errno);
    }
    const QString folder = folderOf(target);
    struct stat folderStat;
    if (::stat(QFile::encodeName(folder).constData(), &folderStat) != 0)
        return folderRefusal(folder, errno);
    if (!S_ISDIR(folderStat.st_mode) || !writableByMode(folder, folderStat))
        return u"The folder %1 is not writable."_s.arg(native(folder));
    // In a sticky folder a file is replaced only by its owner: the kernel lets no one else but
    // the folder's owner and root rename over it, and a file another user left there may be
    // waiting for root's output. Root may replace the folder owner's own files.
    if (exists && (folderStat.st_mode & S_ISVTX) && st.st_uid != ::geteuid() &&
        !(::geteuid() == 0 && st.st_uid == folderStat.st_uid))
        return u"%1 belongs to another user in the shared folder %2; it is not replaced."_s.arg(
            native(target), native(folder));
    return {};
}

} // namespace

AtomicFile::AtomicFile(const QString &path)
    : m_path(path)
{}

AtomicFile::~AtomicFile() = default; // the temporary file goes with m_file unless committed

AtomicFile::Target AtomicFile::follow(const QString &path)
{
    constexpr int MaxLinks = 40; // as the kernel
    const auto found = [](const QByteArray &target, bool procLink = false) {
        return Target{QFile::decodeName(target), {}, procLink};
    };
    const auto refused = [](const QString &why) {
        return Target{{}, why, false};
    };
    // The names still to walk, the next one last, and the path walked so far, which holds
    // no link ("" is the root).
    QList<QByteArray> names =
        QFile::encodeName(QDir::isAbsolutePath(path) ? path : QDir::currentPath() + u'/' + path)
            .split('/');
    std::reverse(names.begin(), names.end());
    QByteArray walked;
    const auto rest = [&] {
        QByteArray tail;
        for (auto name = names.crbegin(); name != names.crend(); ++name)
            tail += '/' + *name;
        return tail;
    };
    int links = 0;
    bool lastWasLink = false; // the last name comes from a link that was the last name
    while (!names.isEmpty()) {
        const QByteArray name = names.takeLast();
        if (name.isEmpty() || name == ".")
            continue;
        if (name == "..") {
            walked.truncate(std::max<qsizetype>(0, walked.lastIndexOf('/')));
            continue;
        }
        const QByteArray next = walked + '/' + name;
        struct stat link;
        if (::lstat(next.constData(), &link) != 0) {
            if (errno == ENOENT && names.isEmpty() && lastWasLink)
                return refused(u"%1 is a link to %2, which does not exist; no file is made "
                               u"through a link."_s.arg(native(path), QFile::decodeName(next)));
            return found(next + rest()); // a new file, or refused by what reads it next
        }
        if (!S_ISLNK(link.st_mode)) {
            walked = next;
            continue;
        }
        if (++links > MaxLinks)
            return refused(u"%1: %2."_s.arg(native(path), errnoText(ELOOP)));
        const QByteArray folder = walked.isEmpty() ? QByteArray("/") : walked;
        struct stat folderStat;
        if (::stat(folder.constData(), &folderStat) != 0)
            return refused(folderRefusal(QFile::decodeName(folder), errno));
        if (!mayFollow(link, folderStat))
            return refused(
                u"%1 is a link that another user made in the shared folder %2; it is "
                u"not followed."_s.arg(QFile::decodeName(next), QFile::decodeName(folder)));
        QByteArray text(qsizetype(PATH_MAX), Qt::Uninitialized);
        const ssize_t length = ::readlink(next.constData(), text.data(), size_t(text.size()));
        if (length < 0 || length >= text.size())
            return refused(u"%1: %2."_s.arg(QFile::decodeName(next),
                                            errnoText(length < 0 ? errno : ENAMETOOLONG)));
        text.truncate(length);
        struct statfs fs;
        if (!text.startsWith('/') && ::statfs(folder.constData(), &fs) == 0 &&
            fs.f_type == PROC_SUPER_MAGIC &&
            ::lstat(QByteArray(walked + '/' + text).constData(), &link) != 0)
            return found(next + rest(), true); // an open file such as "pipe:[1234]", no path
        if (text.startsWith('/'))
            walked.clear();
        lastWasLink = lastWasLink || names.isEmpty();
        const QList<QByteArray> linked = text.split('/');
        names.append(QList<QByteArray>(linked.crbegin(), linked.crend()));
    }
    return found(walked.isEmpty() ? QByteArray("/") : walked);
}

QString AtomicFile::refusal(const QString &path)
{
    const Target target = follow(path);
    return target.refusal.isEmpty() ? replaceRefusal(target.path) : target.refusal;
}

bool AtomicFile::open()
{
    const Target target = follow(m_path);
    m_error = target.refusal.isEmpty() ? replaceRefusal(target.path) : target.refusal;
    if (!m_error.isEmpty())
        return false;
    m_target = target.path;
    const QString folder = folderOf(m_target);
    m_file.setFileTemplate(folder + u'/' + temporaryBase(m_target, folder) + u".XXXXXX"_s);
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
