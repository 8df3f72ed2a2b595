#include "cli/ScanOptions.h"

#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <optional>
#include <type_traits>

using namespace Qt::StringLiterals;

namespace {

constexpr ScanSettings::Range RateRange{1, 100000};

// A whole decimal number within `range`, or a message naming the option and its range.
std::optional<int> wholeNumber(const QString &optionName, const QString &text,
                               ScanSettings::Range range, QString &error)
{
    bool ok = false;
    const qlonglong value = text.toLongLong(&ok);
    const bool digitsOnly = !text.isEmpty() && std::all_of(text.begin(), text.end(), [](QChar c) {
        return c >= u'0' && c <= u'9';
    });
    if (ok && digitsOnly && range.contains(value))
        return int(value);
    error = u"%1 takes a whole number from %2 to %3, not \"%4\"."_s.arg(
        optionName, QString::number(range.minimum), QString::number(range.maximum),
        AddressRange::shortened(text));
    return std::nullopt;
}

// Sorted, with overlapping and adjacent ranges joined: every address is swept once.
QList<AddressRange> joined(QList<AddressRange> ranges)
{
    std::sort(ranges.begin(), ranges.end(), [](const AddressRange &a, const AddressRange &b) {
        return std::uint32_t(a.first) < std::uint32_t(b.first);
    });
    QList<AddressRange> out;
    for (const AddressRange &range : ranges) {
        if (!out.isEmpty() && std::uint64_t(std::uint32_t(range.first)) <=
                                  std::uint64_t(std::uint32_t(out.last().last)) + 1) {
            if (std::uint32_t(range.last) > std::uint32_t(out.last().last))
                out.last().last = range.last;
            continue;
        }
        out.append(range);
    }
    return out;
}

// One line of a targets file: a range in any form the command line takes.
AddressRange::Parsed targetLine(const QStringList &words, const QString &line)
{
    if (words.size() == 2)
        return AddressRange::parse(words[0], words[1]);
    if (words.size() == 1)
        return AddressRange::parse(words[0]);
    return {std::nullopt,
            u"One range a line, not \"%1\"."_s.arg(AddressRange::shortened(line.trimmed()))};
}

// The targets of a file or of standard input: one range per line, "#" starts a comment and
// blank lines are skipped. False with `error` naming the line.
bool readTargets(QIODevice &device, const QString &name, QList<AddressRange> &ranges,
                 QString &error)
{
    // A generous cap: a list of targets is text, not a stream without end.
    constexpr qint64 MostBytes = 64 * 1024 * 1024;
    qint64 read = 0;
    for (int number = 1;; ++number) {
        // Blocks on a pipe until a line or its end comes; only the end gives nothing.
        const QByteArray bytes = device.readLine(MostBytes);
        if (bytes.isEmpty())
            break;
        if ((read += bytes.size()) > MostBytes) {
            error = u"%1 is larger than 64 MB: give fewer targets."_s.arg(name);
            return false;
        }
        QString line = QString::fromUtf8(bytes);
        if (const qsizetype hash = line.indexOf(u'#'); hash >= 0)
            line.truncate(hash);
        const QStringList words = line.simplified().split(u' ', Qt::SkipEmptyParts);
        if (words.isEmpty())
            continue;
        const AddressRange::Parsed typed = targetLine(words, line);
        if (!typed.range) {
            error = u"%1, line %2: %3"_s.arg(name).arg(number).arg(typed.error);
            return false;
        }
        ranges.append(*typed.range);
    }
    return true;
}

} // namespace

QString ScanOptions::rangesText() const
{
    QStringList parts;
    for (const AddressRange &r : ranges)
        parts << (r.first == r.last ? r.firstText() : r.firstText() + u'-' + r.lastText());
    return parts.join(u' ');
}

ScanOptions::Parsed ScanOptions::parse(const QStringList &arguments, const ScanSettings &saved,
                                       QIODevice *standardInput)
{
    Parsed parsed;
    ScanOptions &o = parsed.options;

    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsCompactedShortOptions);
    const QCommandLineOption pings({u"c"_s, u"pings"_s}, {}, u"N"_s);
    const QCommandLineOption timeout({u"t"_s, u"timeout"_s}, {}, u"MS"_s);
    const QCommandLineOption ttl(u"ttl"_s, {}, u"N"_s);
    const QCommandLineOption delay({u"i"_s, u"delay"_s}, {}, u"MS"_s);
    const QCommandLineOption rate(u"rate"_s, {}, u"N"_s);
    const QCommandLineOption noDns(QStringList{u"n"_s, u"no-dns"_s});
    const QCommandLineOption dns(u"dns"_s);
    const QCommandLineOption inverted(u"inverted"_s);
    const QCommandLineOption normal(u"normal"_s);
    const QCommandLineOption arp(u"arp"_s);
    const QCommandLineOption savedSettings(u"saved-settings"_s);
    const QCommandLineOption targets({u"f"_s, u"file"_s}, {}, u"FILE"_s);
    const QCommandLineOption output({u"o"_s, u"output"_s}, {}, u"FILE"_s);
    const QCommandLineOption format(u"format"_s, {}, u"FORMAT"_s);
    const QCommandLineOption quiet(QStringList{u"q"_s, u"quiet"_s});
    const QCommandLineOption compare(u"compare"_s);
    const QCommandLineOption failOnChange(u"fail-on-change"_s);
    const QCommandLineOption noHistory(u"no-history"_s);
    const QCommandLineOption help(QStringList{u"h"_s, u"help"_s});
    const QCommandLineOption version(QStringList{u"V"_s, u"version"_s});
    parser.addOptions({pings,    timeout, ttl,           delay,     rate, noDns,  dns,
                       inverted, normal,  savedSettings, targets,   arp,  output, format,
                       quiet,    compare, failOnChange,  noHistory, help, version});

    if (!parser.parse(QStringList{u"vantrel-scan"_s} + arguments)) {
        const QStringList unknown = parser.unknownOptionNames();
        parsed.error = unknown.isEmpty()
                           ? parser.errorText()
                           : u"Unknown option \"%1\"."_s.arg(AddressRange::shortened(unknown[0]));
        return parsed;
    }
    if (parser.isSet(help)) {
        parsed.outcome = Outcome::Help;
        return parsed;
    }
    if (parser.isSet(version)) {
        parsed.outcome = Outcome::Version;
        return parsed;
    }

    // The window's settings only when asked for; its delay then paces the walk, as there.
    o.savedSettings = parser.isSet(savedSettings);
    if (o.savedSettings) {
        o.settings = saved;
        o.rate = 0;
    }
    if (parser.isSet(delay))
        o.rate = 0; // unless --rate is given too, which overrides the delay
    // The last of a repeated option wins, as in most command-line tools.
    const auto number = [&](const QCommandLineOption &option, const QString &name,
                            ScanSettings::Range range, auto &target) {
        if (!parser.isSet(option))
            return true;
        const auto value =
            wholeNumber(name, parser.values(option).constLast(), range, parsed.error);
        if (value)
            target = static_cast<std::remove_reference_t<decltype(target)>>(*value);
        return value.has_value();
    };
    if (!number(pings, u"--pings"_s, ScanSettings::Pings_Range, o.settings.Pings_per_Node) ||
        !number(timeout, u"--timeout"_s, ScanSettings::Timeout_Range, o.settings.Ping_Timeout) ||
        !number(ttl, u"--ttl"_s, ScanSettings::TTL_Range, o.settings.Ping_TTL) ||
        !number(delay, u"--delay"_s, ScanSettings::Delay_Range, o.settings.Inter_Ping_Delay) ||
        !number(rate, u"--rate"_s, RateRange, o.rate))
        return parsed;
    // Switches that come both ways: the last one given wins.
    for (const QString &name : parser.optionNames()) {
        if (name == u"n"_s || name == u"no-dns"_s)
            o.settings.Resolve_DNS = false;
        else if (name == u"dns"_s)
            o.settings.Resolve_DNS = true;
        else if (name == u"inverted"_s)
            o.settings.Reverse_Scan = true;
        else if (name == u"normal"_s)
            o.settings.Reverse_Scan = false;
        else if (name == u"arp"_s)
            o.settings.listArpOnly = true;
    }
    o.quiet = parser.isSet(quiet);
    o.compare = parser.isSet(compare);
    o.failOnChange = parser.isSet(failOnChange);
    o.noHistory = parser.isSet(noHistory);
    if (parser.isSet(output)) {
        o.outputFile = parser.values(output).constLast();
        if (o.outputFile.isEmpty() || o.outputFile == u"-"_s) {
            parsed.error = u"--output needs a file name (leave it out for standard output)."_s;
            return parsed;
        }
    }
    if (parser.isSet(format)) {
        const QString name = parser.values(format).constLast();
        if (name == u"csv"_s) {
            o.format = Format::Csv;
        } else if (name == u"text"_s) {
            o.format = Format::Text;
        } else if (name == u"jsonl"_s) {
            o.format = Format::Jsonl;
        } else {
            parsed.error = u"--format takes csv, text or jsonl, not \"%1\"."_s.arg(
                AddressRange::shortened(name));
            return parsed;
        }
    }

    // Two single addresses are a range from one to the other, as in the window; otherwise
    // every argument is a range of its own.
    QList<AddressRange> ranges;
    const QStringList words = parser.positionalArguments();
    const auto single = [](const QString &word) {
        return !word.contains(u'/') && !word.contains(u'-');
    };
    const bool firstToLast = words.size() == 2 && single(words[0]) && single(words[1]);
    for (qsizetype i = 0; i < words.size(); ++i) {
        const AddressRange::Parsed typed =
            firstToLast ? AddressRange::parse(words[0], words[1]) : AddressRange::parse(words[i]);
        if (!typed.range) {
            parsed.error = typed.error;
            return parsed;
        }
        ranges.append(*typed.range);
        if (firstToLast)
            break;
    }
    for (const QString &file : parser.values(targets)) {
        const bool fromInput = file == u"-"_s;
        const QString name =
            fromInput ? u"standard input"_s : u"\"%1\""_s.arg(AddressRange::shortened(file));
        QFile named(file);
        if (!fromInput && QFileInfo(file).isDir()) {
            parsed.error = u"Cannot read %1: it is a folder."_s.arg(name);
            return parsed;
        }
        QIODevice *device = fromInput ? standardInput : &named;
        if (!device || (!fromInput && !named.open(QIODevice::ReadOnly))) {
            parsed.error = u"Cannot read %1: %2"_s.arg(name, device ? named.errorString()
                                                                    : u"not available"_s);
            return parsed;
        }
        if (!readTargets(*device, name, ranges, parsed.error))
            return parsed;
    }
    if (ranges.isEmpty()) {
        parsed.error = parser.isSet(targets) ? u"No address range in the targets given."_s
                                             : u"No address range given."_s;
        return parsed;
    }
    o.ranges = joined(ranges);
    o.range = AddressRange{o.ranges.first().first, o.ranges.last().last};
    parsed.outcome = Outcome::Run;
    return parsed;
}

QString ScanOptions::helpText()
{
    return uR"(Usage: vantrel-scan [options] RANGE...
Sweeps IPv4 addresses with ICMP echo requests, as the Vantrel window does, and
writes the rows it lists. Needs no display.

RANGE:  FIRST LAST | FIRST-LAST | FIRST-N | ADDRESS/PREFIX | ADDRESS
        10.0.0.1 10.0.0.254  10.0.0.1-10.0.0.254  10.0.0.1-254  10.0.0.0/24
        A block is its whole prefix: 10.0.0.77/24 is 10.0.0.0 to 10.0.0.255.
        Several ranges make one scan, in ascending order, each address once.
  -f, --file FILE     read ranges from FILE, one a line in any form above ("#"
                      starts a comment); "-f -" reads standard input

Scan settings. The scanner's own defaults, whatever the window saved:
  -c, --pings N       echo requests per address, 1-5 (default 2); the first
                      answer lists the address; inverted: one request each
  -t, --timeout MS    echo time-out in milliseconds, 100-5000 (default 1000)
      --ttl N         time-to-live of the requests, 1-255 (default 64)
      --rate N        addresses per second, 1-100000 (default 100)
  -i, --delay MS      milliseconds between two addresses, 1-2001, instead of
                      --rate (--rate wins when both are given)
      --dns           reverse name lookups (the default)
  -n, --no-dns        no reverse name lookups
      --normal        list the addresses that answer (the default)
      --inverted      list the addresses that do not answer, with the reason
      --arp           also list hosts on the local network that drop echo
                      requests but answer ARP, with "No echo reply"
      --saved-settings  start from the window's saved settings (Options > Scan
                      Options) instead; the options above still override them
Of --dns/--no-dns and --normal/--inverted the last one given counts.

Output, on standard output unless -o is given:
  -o, --output FILE   write FILE, replaced only once the new one is complete
                      (an old FILE stays intact otherwise); a pipe or device
                      (a FIFO, /dev/stdout) is written to directly
      --format FORMAT csv (default): the window's export file, whole at the end
                      text: columns for people, a row as soon as it is complete
                      jsonl: one JSON object a row, as soon as it is complete:
                        "address"; "time_ms" and "rtt_ms" (answered) or "error"
                        (inverted, "No echo reply"); "name" (a host name or
                        null); "lookup" (found, none, server failure, no
                        answer, not done); "mac" and "vendor" (or null);
                      then one {"summary": {...}} line with the range, the
                      counts, start and end time (UTC) and the settings used
                      A row is complete when listed with its hardware address,
                      and with lookups when its name has come in. With -o the
                      file is written at the end.
  -q, --quiet         no progress line (shown only when stderr is a terminal)
  -h, --help          show this text
  -V, --version       show the version

History. Every scan is recorded in ~/.local/share/Vantrel/history.sqlite (200
are kept, the latest of each range and mode among them), as the window does.
      --no-history    do not record this scan (--compare still reads history)
      --compare       after the rows, what changed since the latest earlier
                      completed scan of the same ranges and mode: new, gone and
                      renamed addresses (inverted: silent, answering, renamed);
                      a failed lookup is no rename; where hardware addresses
                      were recorded, devices that moved (then, now: the
                      addresses) and changed (then, now: the hardware
                      addresses) (csv: the window's list)
      --fail-on-change  exit 5 when anything changed since that scan, 6 when
                      there is nothing to compare with

Hosts on the local network show their hardware (MAC) address, from the kernel's
neighbour table, and its maker from the IEEE registries of ieee-data ("Private
address" for a locally administered one); hosts behind a router show none.
A host without a DNS name is asked for its own (mDNS, then NetBIOS).

Ctrl-C (SIGINT), SIGTERM or a hang-up (SIGHUP) stops the scan, waits at most
the echo time-out for replies in flight, writes every row listed so far and
exits 128 + the signal's number; a second signal writes at once. When the
reader of standard output goes away, the scan stops and the program ends
silently, as if killed by SIGPIPE.

Without an ICMP socket nothing can be sent: allow ping sockets with
  sysctl -w net.ipv4.ping_group_range='0 2147483647'
or let the program open raw sockets with
  setcap cap_net_raw+ep /path/to/vantrel-scan

Exit status:
  0    at least one row listed          3    no ICMP socket
  1    no row listed                    4    the output could not be written
  2    bad usage, range or targets      5    --fail-on-change: something changed
  6    --fail-on-change: nothing to compare with (no history, no earlier scan)
  7    the scan could not be recorded in the history
  129, 130, 143   stopped by SIGHUP, SIGINT, SIGTERM; the rows so far written
  141  standard output's reader went away (SIGPIPE)

Example:
  vantrel-scan -n --format text 192.168.1.0/24
)"_s;
}
