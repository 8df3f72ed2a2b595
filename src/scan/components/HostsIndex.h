#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <utility>

struct stat;

// The IPv4 entries of a hosts file, indexed by address. The file is read once and read
// again only when its modification time, size or identity change, and then at most once a
// second, so that a large file (blocking lists hold 150,000 lines) costs one parse instead of
// one per lookup even while something keeps appending to it. Answers as a resolver's file
// lookup does: the first line that names an address gives its name (the first name on that
// line). Only a regular file is read, and only its first MaxBytes: a FIFO, a device or an
// endless file put in its place can neither block nor flood the program, which then has
// DNS alone.
class HostsIndex
{
public:
    static constexpr std::int64_t MaxBytes = 32 * 1024 * 1024;
    static constexpr std::int64_t RereadMs = 1000;
    // Milliseconds on a clock that never goes back; tests pass their own.
    using Clock = std::function<std::int64_t()>;

    explicit HostsIndex(const QString &path = QStringLiteral("/etc/hosts"), Clock clock = {});

    // The raw name for `address` (host byte order); none when the file does not hold it.
    std::optional<QByteArray> nameOf(std::uint32_t address);

    // What the user should hear about the file (not a regular file, cut at MaxBytes), once
    // in the index's life; "" when there is nothing (more) to say.
    QString takeProblem() { return std::exchange(m_problem, {}); }

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

    static Stamp stampOf(const struct stat &st);
    void refresh();
    void load();
    void parse(const QByteArray &text);
    void tell(const QString &problem);

    QString m_path;
    Clock m_clock;
    Stamp m_stamp;
    bool m_loaded = false;
    std::int64_t m_checkedAt = 0;
    QHash<std::uint32_t, QByteArray> m_names;
    QString m_problem;
    bool m_told = false;
};
