// Checks Is_Valid_Address against a separate reading of the accepted form, a regular
// expression: optional spaces, a canonical dotted quad, optional spaces, then optionally "/"
// and anything. Any disagreement, or a crash or exception inside, aborts.
#include "scan/IP_Functions.h"

#include <QRandomGenerator>
#include <QRegularExpression>

#include <cstdio>
#include <cstdlib>

using namespace IP_Functions;

static void check(const QString &text)
{
    // ASCII digits only, and \z: PCRE's $ would also match before a final line feed.
    static const QString octet = "(25[0-5]|2[0-4][0-9]|1[0-9][0-9]|[1-9]?[0-9])";
    static const QRegularExpression form("\\A *" + octet + "(\\." + octet + "){3} *(/|\\z)");
    const bool accepted = Is_Valid_Address(text); // an exception aborts the run
    if (accepted != form.match(text).hasMatch())
        qFatal("wrongly %s \"%s\"", accepted ? "accepted" : "refused", qPrintable(text));
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const char *bytes = reinterpret_cast<const char *>(data);
    check(QString::fromLatin1(bytes, qsizetype(size)));
    check(QString::fromUtf8(bytes, qsizetype(size)));
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
        // A valid address (one time in ten raw bytes instead), then left as it is or with up to
        // three spans of up to two bytes replaced by a piece, or removed.
        QByteArray input = Number_To_Address(AddressNumber(random.generate())).toLatin1();
        if (random.bounded(10) == 0) {
            input.resize(random.bounded(40));
            random.generate(input.begin(), input.end());
        }
        for (int edit = random.bounded(4); edit > 0; --edit) {
            const int at = random.bounded(int(input.size()) + 1);
            const int span = random.bounded(3);
            input.replace(at, span,
                          random.bounded(3) ? pieces[random.bounded(int(pieces.size()))]
                                            : QByteArray());
        }
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t *>(input.constData()),
                               std::size_t(input.size()));
    }
    std::printf("fuzz_is_valid_address: %ld inputs\n", count);
    return 0;
}

#endif
