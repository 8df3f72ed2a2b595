// Checks Is_Valid_Address against a separate reading of the accepted form, a regular
// expression: optional spaces, a canonical dotted quad, optional spaces, then optionally "/"
// and anything. Also checks that every address Number_To_Address prints is of that form and
// reads back as its number. Any disagreement, or a crash or exception inside, aborts.
#include "scan/IP_Functions.h"

#include <QList>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QtEndian>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

using namespace IP_Functions;

namespace {

bool isCanonicalQuad(const QString &text)
{
    // ASCII digits only, and \z: PCRE's $ would also match before a final line feed.
    static const QString octet = "(25[0-5]|2[0-4][0-9]|1[0-9][0-9]|[1-9]?[0-9])";
    static const QRegularExpression form("\\A *" + octet + "(\\." + octet + "){3} *(/|\\z)");
    return form.match(text).hasMatch();
}

void fail(const char *what, const QString &text)
{
    std::fprintf(stderr, "%s \"%s\"\n", what, qPrintable(text));
    std::abort();
}

bool check(const QString &text)
{
    const bool accepted = Is_Valid_Address(text); // an exception aborts the run
    if (accepted != isCanonicalQuad(text))
        fail(accepted ? "wrongly accepted" : "wrongly refused", text);
    return accepted;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const char *bytes = reinterpret_cast<const char *>(data);
    check(QString::fromLatin1(bytes, qsizetype(size)));
    check(QString::fromUtf8(bytes, qsizetype(size)));
    if (size >= 4) {
        const auto number = qFromUnaligned<AddressNumber>(data);
        QString text = Number_To_Address(number);
        if (!check(text) || Address_To_Number(text) != number)
            fail("no round trip for", text);
    }
    return 0;
}

#ifdef VANTREL_FUZZ_DRIVER

int main(int argc, char **argv)
{
    // Pieces that exercise the number reader and the canonical comparison; the long runs
    // reach past the 254-character cut and beyond any number's range.
    QList<QByteArray> pieces =
        QByteArray("0|1|9|00|01|127|128|255|256|300|32767|32768|65535|99999|.|..| |  |\t|\n|/|/24"
                   "|+|-|&H|&h|&HFF|e|E2|e-1|1e3|.5|2.5|x|\xc3\xa9|\xef\xbc\x91")
            .split('|');
    pieces << QByteArray(300, '9') << QByteArray(300, ' ');
    const long count = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 100000;
    QRandomGenerator random(0x5eed);
    for (long i = 0; i < count; ++i) {
        // A valid address, then left as it is, changed in one to three places, or replaced by
        // raw bytes.
        QByteArray input = Number_To_Address(AddressNumber(random.generate())).toLatin1();
        const int kind = random.bounded(10);
        if (kind == 0) {
            input.resize(random.bounded(40));
            random.generate(input.begin(), input.end());
        }
        for (int edit = kind > 1 ? random.bounded(1, 4) : 0; edit > 0; --edit) {
            const QByteArray &piece = pieces[random.bounded(int(pieces.size()))];
            const int at = random.bounded(int(input.size()) + 1);
            if (random.bounded(3) == 0)
                input.remove(at, 1);
            else
                input.replace(at, random.bounded(2) ? 0 : qMin(piece.size(), input.size() - at),
                              piece);
        }
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t *>(input.constData()),
                               std::size_t(input.size()));
    }
    std::printf("fuzz_is_valid_address: %ld inputs\n", count);
    return 0;
}

#endif
