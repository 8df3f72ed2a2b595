#include "cli/ScanOptions.h"

#include <QCommandLineParser>

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
        optionName, QString::number(range.minimum), QString::number(range.maximum), text);
    return std::nullopt;
}

} // namespace

ScanOptions::Parsed ScanOptions::parse(const QStringList &arguments, const ScanSettings &saved)
{
    Parsed parsed;
    parsed.options.settings = saved;
    ScanOptions &o = parsed.options;

    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsCompactedShortOptions);
    const QCommandLineOption pings({u"c"_s, u"pings"_s}, {}, u"N"_s);
    const QCommandLineOption timeout({u"t"_s, u"timeout"_s}, {}, u"MS"_s);
    const QCommandLineOption ttl(u"ttl"_s, {}, u"N"_s);
    const QCommandLineOption delay({u"i"_s, u"delay"_s}, {}, u"MS"_s);
    const QCommandLineOption rate(u"rate"_s, {}, u"N"_s);
    const QCommandLineOption noDns(QStringList{u"n"_s, u"no-dns"_s});
    const QCommandLineOption inverted(u"inverted"_s);
    const QCommandLineOption output({u"o"_s, u"output"_s}, {}, u"FILE"_s);
    const QCommandLineOption format(u"format"_s, {}, u"FORMAT"_s);
    const QCommandLineOption quiet(QStringList{u"q"_s, u"quiet"_s});
    const QCommandLineOption compare(u"compare"_s);
    const QCommandLineOption failOnChange(u"fail-on-change"_s);
    const QCommandLineOption noHistory(u"no-history"_s);
    const QCommandLineOption help(QStringList{u"h"_s, u"help"_s});
    const QCommandLineOption version(QStringList{u"V"_s, u"version"_s});
    parser.addOptions({pings, timeout, ttl, delay, rate, noDns, inverted, output, format, quiet,
                       compare, failOnChange, noHistory, help, version});

    if (!parser.parse(QStringList{u"vantrel-scan"_s} + arguments)) {
        parsed.error = parser.errorText();
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
    if (parser.isSet(noDns))
        o.settings.Resolve_DNS = false;
    if (parser.isSet(inverted))
        o.settings.Reverse_Scan = true;
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
            parsed.error = u"--format takes csv, text or jsonl, not \"%1\"."_s.arg(name);
            return parsed;
        }
    }

    const QStringList range = parser.positionalArguments();
    if (range.isEmpty() || range.size() > 2) {
        parsed.error = range.isEmpty() ? u"No address range given."_s
                                       : u"Too many arguments: give FIRST LAST or one range."_s;
        return parsed;
    }
    const AddressRange::Parsed typed =
        range.size() == 2 ? AddressRange::parse(range[0], range[1]) : AddressRange::parse(range[0]);
    if (!typed.range) {
        parsed.error = typed.error;
        return parsed;
    }
    o.range = *typed.range;
    parsed.outcome = Outcome::Run;
    return parsed;
}

QString ScanOptions::helpText()
{
    return uR"(Usage: vantrel-scan [options] RANGE
Sweeps a range of IPv4 addresses with ICMP echo requests, as the Vantrel window does, and
writes the rows it lists. Needs no display.

RANGE:  FIRST LAST  |  FIRST-LAST  |  ADDRESS/PREFIX  |  ADDRESS
        10.0.0.1 10.0.0.254   10.0.0.1-10.0.0.254   10.0.0.0/24   10.0.0.7
        A block is its whole prefix: 10.0.0.77/24 is 10.0.0.0 to 10.0.0.255.

Scan settings. By default those saved by the Vantrel window (Options > Scan Options);
these options override them for this run and nothing is saved.
  -c, --pings N       echo requests per address, 1-5; above 1 a second answer is not listed
  -t, --timeout MS    echo time-out in milliseconds, 100-5000
      --ttl N         time-to-live of the requests, 1-255
  -i, --delay MS      delay between two addresses in milliseconds, 1-2001
      --rate N        addresses per second, 1-100000, handed out evenly; overrides --delay
  -n, --no-dns        no reverse name lookups
      --inverted      list the addresses that do not answer, with the reason, instead

Output, on standard output unless -o is given:
  -o, --output FILE   write FILE; an existing FILE is replaced only once the new one is
                      complete, and stays intact if it cannot be; a pipe or device
                      (a FIFO, /dev/stdout) is written to directly
      --format FORMAT csv (default): the file the window's export writes (four "# "
                        comment lines, then address,time,name per row, CR LF);
                      text: aligned columns for a terminal;
                      jsonl: one JSON object per row: "address", "time_ms" (answered) or
                        "error" (inverted listing), "name" (null without lookups); then
                        one {"summary": {...}} with the range, the counts, start and end
                        time (UTC) and the settings used
  -q, --quiet         no progress line (it shows only when standard error is a terminal)
  -h, --help          show this text
  -V, --version       show the version

History. Every scan that ends is recorded, as the window records its scans, in
history.sqlite in the user's data folder (~/.local/share/Vantrel/; 200 scans are kept,
the latest of every range and mode among them). A history that cannot be used is
reported; the scan goes on, and one it could not record exits 7.
      --no-history    do not record this scan (--compare still reads the history)
      --compare       after the rows, what changed since the most recent earlier completed
                        scan of the same range and mode: new and gone addresses and
                        changed names, with the values then and now (inverted: silent,
                        answering, renamed); a failed lookup is no rename. csv: the
                        window's comparison list ("# " lines, then
                        change,address,then,now); text: one line each; jsonl: one object
                        each with "change", "address", "then", "now", and
                        "compared_with" in the summary
      --fail-on-change  exit 5 when anything changed since that scan (listed only with
                        --compare); 6 when there is nothing to compare with

Rows come in the order the replies arrive. Messages and progress go to standard error.
Ctrl-C (SIGINT) or SIGTERM stops the scan, waits at most the echo time-out for replies
in flight, writes every row listed so far and exits 130 (SIGTERM: 143); a second signal
writes at once.

Without an ICMP socket nothing can be sent: allow ping sockets with
  sysctl -w net.ipv4.ping_group_range='0 2147483647'
or let the program open raw sockets with
  setcap cap_net_raw+ep /path/to/vantrel-scan

Exit status:
  0    at least one row listed
  1    no row listed
  2    bad usage or range
  3    no ICMP socket
  4    the output could not be written
  5    --fail-on-change and something changed (the output is written)
  6    --fail-on-change and nothing to compare with (no history that can be read, or
       no earlier completed scan of the range and mode)
  7    the scan could not be recorded in the history
  130  stopped by SIGINT (143: by SIGTERM); the rows listed so far are written

Example:
  vantrel-scan -n --format text 192.168.1.0/24
)"_s;
}
