#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

#include <cstdint>
#include <optional>

// The IPv4 entries of a hosts file, indexed by address. The file is read once and read
// again only when its modification time, size or identity change, so that a large file
// (blocking lists hold 150,000 lines) costs one parse instead of one per lookup. Answers as
// a resolver's file lookup does: the first line that names an address gives its name (the
// first name on that line).
class HostsIndex
{
public:
    explicit HostsIndex(const QString &path = QStringLiteral("/etc/hosts"));

    // The raw name for `address` (host byte order); none when the file does not hold it.
    std::optional<QByteArray> nameOf(std::uint32_t address);

    QString path() const { return m_path; }

private:
    struct Stamp
    {
        std::int64_t mtimeNs = -1;
        std::int64_t size = -1;
        std::uint64_t inode = 0;
        std::uint64_t device = 0;
        bool operator==(const Stamp &) const = default;
    };

    void refresh();
    void parse(const QByteArray &text);

    QString m_path;
    Stamp m_stamp;
    bool m_loaded = false;
    QHash<std::uint32_t, QByteArray> m_names;
};
