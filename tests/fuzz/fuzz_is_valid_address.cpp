// Checks Is_Valid_Address against a separate hand-written reading of the accepted form:
// optional spaces, a canonical dotted quad, optional spaces, then optionally "/" and
// anything. Any disagreement, or a crash or exception inside, aborts.
#include "scan/IP_Functions.h"

#include <QRandomGenerator>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

bool isCanonicalQuad(const QString &text)
{
    qsizetype pos = 0;
    const qsizetype size = text.size();
    while (pos < size && text.at(pos) == u' ')
        ++pos;
    for (int octet = 0; octet < 4; ++octet) {
        if (octet > 0) {
            if (pos >= size || text.at(pos) != u'.')
                return false;
            ++pos;
        }
        const qsizetype start = pos;
        int value = 0;
        while (pos < size && pos - start < 4 && text.at(pos) >= u'0' && text.at(pos) <= u'9')
            value = value * 10 + (text.at(pos++).unicode() - u'0');
        const qsizetype digits = pos - start;
        if (digits == 0 || digits > 3 || value > 255 || (digits > 1 && text.at(start) == u'0'))
            return false;
    }
    while (pos < size && text.at(pos) == u' ')
        ++pos;
    return pos == size || text.at(pos) == u'/';
}

long acceptedCount = 0; // Latin-1 readings accepted, for the driver's summary

bool check(const QString &text)
{
    bool accepted = false;
    try {
        accepted = IP_Functions::Is_Valid_Address(text);
    } catch (...) {
        std::fprintf(stderr, "exception escaped for \"%s\"\n", qPrintable(text));
        std::abort();
    }
    if (accepted != isCanonicalQuad(text)) {
        std::fprintf(stderr, "%s \"%s\"\n", accepted ? "wrongly accepted" : "wrongly refused",
                     qPrintable(text));
        std::abort();
    }
    return accepted;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const char *bytes = reinterpret_cast<const char *>(data);
    const auto length = qsizetype(size);
    if (check(QString::fromLatin1(bytes, length)))
        ++acceptedCount;
    check(QString::fromUtf8(bytes, length));
    return 0;
}

#ifdef VANTREL_FUZZ_DRIVER

namespace {

// Pieces that exercise the number reader and the canonical comparison.
const char *const Fragments[] = {
    "0",   "1",     "9",     "00",    "01",    "127", "128", "255",      "256",
    "300", "32767", "32768", "65535", "99999", ".",   "..",  " ",        "  ",
    "\t",  "\n",    "/",     "/24",   "+",     "-",   "&H",  "&h",       "&HFF",
    "e",   "E2",    "e-1",   "1e3",   ".5",    "2.5", "x",   "\xc3\xa9", "\xef\xbc\x91"};

QByteArray validAddress(QRandomGenerator &random)
{
    QByteArray address;
    for (int i = 0; i < 4; ++i) {
        if (i > 0)
            address += '.';
        address += QByteArray::number(random.bounded(256));
    }
    return address;
}

QByteArray mutate(QByteArray input, QRandomGenerator &random)
{
    constexpr int fragmentCount = int(sizeof(Fragments) / sizeof(Fragments[0]));
    const int edits = random.bounded(1, 4);
    for (int i = 0; i < edits; ++i) {
        const QByteArray piece = Fragments[random.bounded(fragmentCount)];
        const int at = random.bounded(int(input.size()) + 1);
        switch (random.bounded(4)) {
        case 0:
            input.insert(at, piece);
            break;
        case 1:
            if (at < input.size())
                input.remove(at, 1);
            break;
        case 2:
            input.replace(at, qMin<qsizetype>(piece.size(), input.size() - at), piece);
            break;
        default:
            input.insert(random.bounded(2) ? input.size() : 0, piece);
            break;
        }
    }
    return input;
}

QByteArray randomInput(QRandomGenerator &random)
{
    const int kind = random.bounded(10);
    if (kind == 0) {
        QByteArray bytes(random.bounded(40), Qt::Uninitialized);
        for (char &byte : bytes)
            byte = char(random.bounded(256));
        return bytes;
    }
    if (kind == 1) {
        // Long runs: octets past the 254-character cut and digit strings beyond any range.
        const QByteArray run(random.bounded(200, 400), random.bounded(2) ? '9' : ' ');
        return random.bounded(2) ? run + validAddress(random) : validAddress(random) + run;
    }
    if (kind == 2)
        return validAddress(random);
    return mutate(validAddress(random), random);
}

} // namespace

int main(int argc, char **argv)
{
    const long count = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 100000;
    QRandomGenerator random(0x5eed);
    for (long i = 0; i < count; ++i) {
        const QByteArray input = randomInput(random);
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t *>(input.constData()),
                               std::size_t(input.size()));
    }
    std::printf("fuzz_is_valid_address: %ld inputs, %ld accepted\n", count, acceptedCount);
    return 0;
}

#endif
