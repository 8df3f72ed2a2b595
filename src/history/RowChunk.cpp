#include "history/RowChunk.h"

#include "scan/components/DottedQuad.h"
#include "scan/components/HardwareAddress.h"

#include <QHash>

#include <cstdint>

// Layout: a format byte, then per row three unsigned LEB128 numbers:
//   address  even: twice the zigzag difference from the previous row's address (0 before
//            the first row); odd: a text follows (a cell that is no dotted quad)
//   response even: twice the milliseconds of a "N ms" text; odd: a text follows
//   name     0: no name known; otherwise a text follows
// and from format 2 on two more:
//   hardware 0: none; otherwise the 48-bit hardware address plus one, or (1 << 48) + 1
//            followed by a text for a cell that is no hardware address
//   vendor   0: none; otherwise a text follows
// A text is a number t: below the chunk's count of texts so far, the t-th of them; equal to
// it, a new text follows as its UTF-8 length and bytes.

namespace {

// Format 1 rows end after the name; format 2 adds the hardware address and its maker.
constexpr char Format = 2;
constexpr char FormatWithoutHardware = 1;
constexpr std::uint64_t HardwareText = (std::uint64_t(1) << 48) + 1;
constexpr std::uint64_t MaxMilliseconds = 32767;

void putNumber(QByteArray &out, std::uint64_t value)
{
    while (value >= 0x80) {
        out.append(char((value & 0x7f) | 0x80));
        value >>= 7;
    }
    out.append(char(value));
}

class Writer
{
public:
    QByteArray out;

    void text(const QString &text)
    {
        const auto known = m_texts.constFind(text);
        if (known != m_texts.cend()) {
            putNumber(out, std::uint64_t(*known));
            return;
        }
        const qsizetype index = m_texts.size();
        m_texts.insert(text, index);
        putNumber(out, std::uint64_t(index));
        const QByteArray bytes = text.toUtf8();
        putNumber(out, std::uint64_t(bytes.size()));
        out.append(bytes);
    }

private:
    QHash<QString, qsizetype> m_texts;
};

// The milliseconds of a time as the engine writes it ("0 ms" to "32767 ms"), if it is one.
std::optional<std::uint64_t> milliseconds(const QString &text)
{
    if (text.size() < 4 || text.size() > 8 || !text.endsWith(u" ms"))
        return std::nullopt;
    const qsizetype digits = text.size() - 3;
    if (digits > 1 && text[0] == u'0')
        return std::nullopt;
    std::uint64_t value = 0;
    for (qsizetype i = 0; i < digits; ++i) {
        if (text[i] < u'0' || text[i] > u'9')
            return std::nullopt;
        value = value * 10 + std::uint64_t(text[i].unicode() - u'0');
    }
    return value <= MaxMilliseconds ? std::optional(value) : std::nullopt;
}

class Reader
{
public:
    explicit Reader(QByteArrayView bytes)
        : m_bytes(bytes)
    {}

    bool atEnd() const { return m_at == m_bytes.size(); }

    std::optional<std::uint64_t> number()
    {
        std::uint64_t value = 0;
        for (int shift = 0; shift < 64 && m_at < m_bytes.size(); shift += 7) {
            const auto byte = std::uint8_t(m_bytes[m_at++]);
            value |= std::uint64_t(byte & 0x7f) << shift;
            if (!(byte & 0x80))
                return value;
        }
        return std::nullopt;
    }

    std::optional<QString> text()
    {
        const auto index = number();
        if (!index || *index > std::uint64_t(m_texts.size()))
            return std::nullopt;
        if (*index < std::uint64_t(m_texts.size()))
            return m_texts[qsizetype(*index)];
        const auto length = number();
        if (!length || *length > std::uint64_t(m_bytes.size() - m_at))
            return std::nullopt;
        m_texts.append(QString::fromUtf8(m_bytes.sliced(m_at, qsizetype(*length))));
        m_at += qsizetype(*length);
        return m_texts.last();
    }

private:
    QByteArrayView m_bytes;
    qsizetype m_at = 0;
    QList<QString> m_texts;
};

QString addressText(std::uint32_t address)
{
    return QString::number(address >> 24) + u'.' + QString::number(address >> 16 & 0xff) + u'.' +
           QString::number(address >> 8 & 0xff) + u'.' + QString::number(address & 0xff);
}

} // namespace

QByteArray RowChunk::encode(std::span<const HistoryRow> rows)
{
    Writer w;
    w.out.reserve(qsizetype(rows.size()) * 4 + 1);
    w.out.append(Format);
    std::int64_t previous = 0;
    for (const HistoryRow &row : rows) {
        if (const auto address = parseDottedQuad(row.address)) {
            const std::int64_t difference = std::int64_t(*address) - previous;
            const std::uint64_t zigzag =
                difference < 0 ? std::uint64_t(-difference) * 2 - 1 : std::uint64_t(difference) * 2;
            putNumber(w.out, zigzag * 2);
            previous = *address;
        } else {
            putNumber(w.out, 1);
            w.text(row.address);
        }
        if (const auto ms = milliseconds(row.response)) {
            putNumber(w.out, *ms * 2);
        } else {
            putNumber(w.out, 1);
            w.text(row.response);
        }
        if (row.nameKnown) {
            putNumber(w.out, 1);
            w.text(row.name);
        } else {
            putNumber(w.out, 0);
        }
        if (row.hardware.isEmpty()) {
            putNumber(w.out, 0);
        } else if (const auto hardware = HardwareAddress::fromText(row.hardware);
                   hardware && hardware->text() == row.hardware) {
            putNumber(w.out, hardware->value() + 1);
        } else {
            putNumber(w.out, HardwareText);
            w.text(row.hardware);
        }
        if (row.vendor.isEmpty()) {
            putNumber(w.out, 0);
        } else {
            putNumber(w.out, 1);
            w.text(row.vendor);
        }
    }
    return w.out;
}

std::optional<QList<HistoryRow>> RowChunk::decode(QByteArrayView bytes, qint64 count)
{
    if (bytes.isEmpty() || (bytes[0] != Format && bytes[0] != FormatWithoutHardware) || count < 0 ||
        count > bytes.size())
        return std::nullopt;
    const bool withHardware = bytes[0] == Format;
    Reader r(bytes.sliced(1));
    QList<HistoryRow> rows;
    rows.reserve(count);
    std::int64_t previous = 0;
    for (qint64 i = 0; i < count; ++i) {
        HistoryRow row;
        const auto address = r.number();
        if (!address)
            return std::nullopt;
        if (*address & 1) {
            if (*address != 1)
                return std::nullopt;
            const auto text = r.text();
            if (!text)
                return std::nullopt;
            row.address = *text;
        } else {
            const std::uint64_t zigzag = *address / 2;
            const std::int64_t difference =
                zigzag & 1 ? -std::int64_t(zigzag / 2) - 1 : std::int64_t(zigzag / 2);
            const std::int64_t value = previous + difference;
            if (value < 0 || value > 0xffffffffLL)
                return std::nullopt;
            previous = value;
            row.address = addressText(std::uint32_t(value));
        }
        const auto response = r.number();
        if (!response || (*response & 1 && *response != 1) || *response / 2 > MaxMilliseconds)
            return std::nullopt;
        if (*response & 1) {
            const auto text = r.text();
            if (!text)
                return std::nullopt;
            row.response = *text;
        } else {
            row.response = QString::number(*response / 2) + u" ms";
        }
        const auto name = r.number();
        if (!name || *name > 1)
            return std::nullopt;
        row.nameKnown = *name == 1;
        if (row.nameKnown) {
            const auto text = r.text();
            if (!text)
                return std::nullopt;
            row.name = *text;
        }
        if (withHardware) {
            const auto hardware = r.number();
            if (!hardware || *hardware > HardwareText)
                return std::nullopt;
            if (*hardware == HardwareText) {
                const auto text = r.text();
                if (!text)
                    return std::nullopt;
                row.hardware = *text;
            } else if (*hardware > 0) {
                HardwareAddress device;
                for (int at = 0; at < 6; ++at)
                    device.bytes[std::size_t(at)] = std::uint8_t((*hardware - 1) >> (40 - 8 * at));
                row.hardware = device.text();
            }
            const auto vendor = r.number();
            if (!vendor || *vendor > 1)
                return std::nullopt;
            if (*vendor == 1) {
                const auto text = r.text();
                if (!text)
                    return std::nullopt;
                row.vendor = *text;
            }
        }
        rows.append(std::move(row));
    }
    if (!r.atEnd())
        return std::nullopt;
    return rows;
}
