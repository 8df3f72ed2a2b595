#include "scan/components/HostsIndex.h"

#include <QFile>
#include <QScopeGuard>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

} // namespace

HostsIndex::HostsIndex(const QString &path, Clock clock)
    : m_path(path)
    , m_clock(clock ? std::move(clock) : [] {
        return std::int64_t(std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::steady_clock::now().time_since_epoch())
                                .count());
    })
{}

HostsIndex::Stamp HostsIndex::stampOf(const struct stat &st)
{
    return {std::int64_t(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec,
            std::int64_t(st.st_size), std::uint64_t(st.st_ino), std::uint64_t(st.st_dev)};
}

std::optional<QByteArray> HostsIndex::nameOf(std::uint32_t address)
{
    refresh();
    const auto it = m_names.constFind(address);
    if (it == m_names.cend())
        return std::nullopt;
    return *it;
}

void HostsIndex::refresh()
{
    const std::int64_t now = m_clock();
    if (m_loaded && now - m_checkedAt < RereadMs)
        return;
    m_checkedAt = now;
    struct stat st;
    Stamp stamp; // a missing or unreadable file is an empty one
    if (::stat(QFile::encodeName(m_path).constData(), &st) == 0)
        stamp = stampOf(st);
    if (m_loaded && stamp == m_stamp)
        return;
    m_stamp = stamp;
    m_loaded = true;
    m_names.clear();
    if (stamp.size >= 0)
        load();
}

void HostsIndex::load()
{
    // Not blocking: a FIFO without a writer would hold the open forever.
    const int fd =
        ::open(QFile::encodeName(m_path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return;
    const auto closeFile = qScopeGuard([fd] { ::close(fd); });
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return;
    m_stamp = stampOf(st); // what is read, should the file have changed since
    if (!S_ISREG(st.st_mode)) {
        tell(u"The hosts file %1 is not a regular file; names come from DNS alone."_s.arg(m_path));
        return;
    }
    QByteArray text(qsizetype(std::clamp<std::int64_t>(st.st_size, 0, MaxBytes)) + 1,
                    Qt::Uninitialized);
    qsizetype size = 0;
    while (size <= MaxBytes) {
        if (size == text.size())
            text.resize(std::min<qsizetype>(size * 2, MaxBytes + 1)); // it grew meanwhile
        const ssize_t n = ::read(fd, text.data() + size, size_t(text.size() - size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        size += n;
    }
    text.truncate(size);
    if (size > MaxBytes) {
        // The line the cut went through is left out whole.
        text.truncate(text.lastIndexOf('\n', MaxBytes - 1) + 1);
        tell(u"The hosts file %1 is larger than %2 MB; only its first %2 MB are read."_s.arg(
            m_path, QString::number(MaxBytes / (1024 * 1024))));
    }
    parse(text);
}

void HostsIndex::tell(const QString &problem)
{
    if (!std::exchange(m_told, true))
        m_problem = problem;
}

void HostsIndex::parse(const QByteArray &text)
{
    const char *p = text.constData();
    const char *const end = p + text.size();
    while (p < end) {
        const char *lineEnd = static_cast<const char *>(std::memchr(p, '\n', size_t(end - p)));
        if (!lineEnd)
            lineEnd = end;
        if (const char *hash = static_cast<const char *>(std::memchr(p, '#', size_t(lineEnd - p))))
            lineEnd = hash; // the comment goes, the rest of the line stays
        // Address, then the canonical name; aliases after it do not matter here.
        const char *field[2] = {};
        qsizetype length[2] = {};
        for (int i = 0; i < 2; ++i) {
            while (p < lineEnd && isBlank(*p))
                ++p;
            field[i] = p;
            while (p < lineEnd && !isBlank(*p))
                ++p;
            length[i] = p - field[i];
        }
        p = std::find(lineEnd, end, '\n');
        if (p < end)
            ++p;
        in_addr addr{};
        if (length[0] == 0 || length[0] > 15 || length[1] == 0)
            continue;
        char address[16] = {};
        std::memcpy(address, field[0], size_t(length[0]));
        if (inet_pton(AF_INET, address, &addr) != 1)
            continue;
        const std::uint32_t key = ntohl(addr.s_addr);
        if (!m_names.contains(key))
            m_names.insert(key, QByteArray(field[1], length[1]));
    }
}
