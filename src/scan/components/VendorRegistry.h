#pragma once

#include "scan/components/HardwareAddress.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

// The makers of hardware addresses, from the IEEE registries as Debian's ieee-data package
// keeps them as CSV files (MA-L, MA-M, MA-S and IAB), read once into an index; the longest
// registered prefix of an address names its maker. Each registry is read from the newest of
// its copies: update-ieee-data refreshes the one under /var/lib, the package ships the one
// under /usr/share. Without any registry every maker is empty, which is no error.
class VendorRegistry
{
public:
    static QString privateAddress() { return QStringLiteral("Private address"); }

    // The folders searched, the refreshed copy first.
    static QStringList defaultFolders();
    // The registry files, by the names ieee-data gives them.
    static QStringList fileNames();

    VendorRegistry() = default;
    // Reads the registries found in `folders`; a file that is missing or cannot be read is
    // left out, a malformed line skipped.
    void load(const QStringList &folders = defaultFolders());
    // Adds the records of one registry file's text.
    void addCsv(QByteArrayView text);

    // The index of the default folders, read on first use and kept for the program's life.
    static const VendorRegistry &shared();

    // The maker's name; "Private address" for a locally administered address; empty when no
    // registry knows the address.
    QString vendorOf(const HardwareAddress &address) const;

    // Registered prefixes in the index, and the files they came from.
    std::size_t size() const;
    const QStringList &sources() const { return m_sources; }

private:
    struct Entry
    {
        std::uint64_t prefix;
        std::uint32_t name;
        bool operator<(const Entry &other) const { return prefix < other.prefix; }
    };
    // By prefix length: 36, 28 and 24 bits, the longest looked at first.
    static constexpr int Lengths[] = {36, 28, 24};
    std::vector<Entry> m_entries[3];
    std::vector<QString> m_names;
    QStringList m_sources;
};
