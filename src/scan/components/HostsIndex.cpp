#include "scan/components/HostsIndex.h"

#include <QFile>

#include <algorithm>
#include <arpa/inet.h>
#include <cstring>
#include <sys/stat.h>

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

} // namespace

HostsIndex::HostsIndex(const QString &path)
    : m_path(path)
{}

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
    struct stat st;
    Stamp stamp; // a missing or unreadable file is an empty one
    if (::stat(QFile::encodeName(m_path).constData(), &st) == 0)
        stamp = {std::int64_t(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec,
                 std::int64_t(st.st_size), std::uint64_t(st.st_ino), std::uint64_t(st.st_dev)};
    if (m_loaded && stamp == m_stamp)
        return;
    m_stamp = stamp;
    m_loaded = true;
    m_names.clear();
    QFile file(m_path);
    if (stamp.size >= 0 && file.open(QIODevice::ReadOnly))
        parse(file.readAll());
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
