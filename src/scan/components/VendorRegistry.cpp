#include "scan/components/VendorRegistry.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

// One record's first three fields, read from RFC 4180 text: fields may be quoted, quoted
// fields may hold commas, doubled quotes and line breaks (the addresses do). Unquoted fields
// (nearly all) are views into the text; a quoted one is copied only where it must be.
class CsvReader
{
public:
    explicit CsvReader(QByteArrayView text)
        : m_text(text)
    {}

    bool atEnd() const { return m_at >= m_text.size(); }

    // Reads one record; keeps its first Wanted fields (empty where it has fewer).
    static constexpr int Wanted = 3;
    void next(QByteArrayView (&fields)[Wanted])
    {
        for (QByteArrayView &field : fields)
            field = {};
        for (int field = 0;; ++field) {
            const bool lineEnded = readField(field < Wanted ? &fields[field] : nullptr,
                                             m_scratch[std::min(field, Wanted)]);
            if (lineEnded || atEnd())
                return;
        }
    }

private:
    // True when the record ends after this field.
    bool readField(QByteArrayView *out, QByteArray &scratch)
    {
        const qsizetype size = m_text.size();
        if (m_at < size && m_text[m_at] == '"') {
            scratch.clear();
            qsizetype start = ++m_at;
            while (m_at < size) {
                if (m_text[m_at] != '"') {
                    ++m_at;
                    continue;
                }
                scratch.append(m_text.sliced(start, m_at - start));
                if (m_at + 1 < size && m_text[m_at + 1] == '"') {
                    scratch.append('"');
                    m_at += 2;
                    start = m_at;
                    continue;
                }
                ++m_at;
                start = -1;
                break;
            }
            if (start >= 0) // no closing quote: the rest of the text
                scratch.append(m_text.sliced(start, m_at - start));
            if (out)
                *out = scratch;
        }
        // The rest up to the separator (for a quoted field, normally nothing).
        const qsizetype start = m_at;
        while (m_at < size && m_text[m_at] != ',' && m_text[m_at] != '\n')
            ++m_at;
        if (out && out->isNull())
            *out = m_text.sliced(start, m_at - start);
        if (m_at >= size)
            return true;
        return m_text[m_at++] == '\n';
    }

    QByteArrayView m_text;
    qsizetype m_at = 0;
    // One per kept field, and one for the fields after them.
    QByteArray m_scratch[Wanted + 1];
};

std::optional<std::uint64_t> hexNumber(QByteArrayView text)
{
    std::uint64_t value = 0;
    for (const char c : text) {
        const int digit = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                                 : -1;
        if (digit < 0)
            return std::nullopt;
        value = value << 4 | std::uint64_t(digit);
    }
    return value;
}

} // namespace

QStringList VendorRegistry::defaultFolders()
{
    return {u"/var/lib/ieee-data"_s, u"/usr/share/ieee-data"_s};
}

QStringList VendorRegistry::fileNames()
{
    return {u"oui.csv"_s, u"mam.csv"_s, u"oui36.csv"_s, u"iab.csv"_s};
}

void VendorRegistry::load(const QStringList &folders)
{
    for (const QString &name : fileNames()) {
        // The newest copy; a link to the packaged file is that file.
        QString chosen;
        QDateTime newest;
        for (const QString &folder : folders) {
            const QFileInfo info(folder + u'/' + name);
            if (!info.isFile() || !info.isReadable())
                continue;
            if (chosen.isEmpty() || info.lastModified() > newest) {
                chosen = info.filePath();
                newest = info.lastModified();
            }
        }
        if (chosen.isEmpty())
            continue;
        QFile file(chosen);
        // The registries are a few megabytes; a file far beyond that is not one of them.
        constexpr qint64 MaxBytes = 64 * 1024 * 1024;
        if (file.size() > MaxBytes || !file.open(QIODevice::ReadOnly))
            continue;
        addCsv(file.read(MaxBytes));
        m_sources.append(chosen);
    }
}

void VendorRegistry::addCsv(QByteArrayView text)
{
    QHash<QByteArray, std::uint32_t> known;
    CsvReader reader(text);
    QByteArrayView fields[CsvReader::Wanted];
    while (!reader.atEnd()) {
        reader.next(fields);
        // The assignment's length gives the prefix: 6, 7 or 9 hex digits. The heading line
        // and anything malformed fail here.
        const QByteArrayView assignment = fields[1].trimmed();
        const int bits = int(assignment.size()) * 4;
        const auto table = std::find(std::begin(Lengths), std::end(Lengths), bits);
        const auto prefix = hexNumber(assignment);
        const QByteArrayView name = fields[2].trimmed();
        if (table == std::end(Lengths) || !prefix || name.isEmpty())
            continue;
        // Looked up without a copy; stored with one.
        const QByteArray key = QByteArray::fromRawData(name.data(), name.size());
        auto index = known.constFind(key);
        if (index == known.cend()) {
            index = known.insert(name.toByteArray(), std::uint32_t(m_names.size()));
            m_names.push_back(QString::fromUtf8(name));
        }
        m_entries[table - std::begin(Lengths)].push_back({*prefix, *index});
    }
    for (std::vector<Entry> &entries : m_entries) {
        // The first registration of a prefix wins over a repeated one.
        std::stable_sort(entries.begin(), entries.end());
        entries.erase(
            std::unique(entries.begin(), entries.end(),
                        [](const Entry &a, const Entry &b) { return a.prefix == b.prefix; }),
            entries.end());
    }
}

const VendorRegistry &VendorRegistry::shared()
{
    static const VendorRegistry registry = [] {
        VendorRegistry r;
        r.load();
        return r;
    }();
    return registry;
}

QString VendorRegistry::vendorOf(const HardwareAddress &address) const
{
    if (address.isLocallyAdministered())
        return privateAddress();
    const std::uint64_t value = address.value();
    for (std::size_t i = 0; i < std::size(Lengths); ++i) {
        const std::uint64_t prefix = value >> (48 - Lengths[i]);
        const std::vector<Entry> &entries = m_entries[i];
        const auto found = std::lower_bound(entries.begin(), entries.end(), Entry{prefix, 0});
        if (found != entries.end() && found->prefix == prefix)
            return m_names[found->name];
    }
    return {};
}

std::size_t VendorRegistry::size() const
{
    return m_entries[0].size() + m_entries[1].size() + m_entries[2].size();
}
