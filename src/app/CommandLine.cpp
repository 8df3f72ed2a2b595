#include "app/CommandLine.h"

#include "app/Version.h"

#include <QCommandLineParser>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace CommandLine {

namespace {

constexpr int UsageExitCode = 2;

QString helpText()
{
    return u"Usage: vantrel [options]\n"
           "Sweeps a range of IPv4 addresses with ICMP echo requests in a window and lists the\n"
           "hosts that answer, how fast, and their names. The scan settings are kept in\n"
           "~/.config/Vantrel/Vantrel.conf; vantrel-scan(1) runs the same scan without a window.\n"
           "\n"
           "Options:\n"
           "  -h, --help     Show this help and exit.\n"
           "  -V, --version  Show the version and exit.\n"
           "Qt's own options (-platform, -style, -geometry ...) are accepted as well.\n"_s;
}

Outcome refuse(const QString &reason)
{
    return {Action::Refuse,
            u"vantrel: "_s + reason + u"\nTry 'vantrel --help' for more information.\n"_s,
            UsageExitCode};
}

} // namespace

Outcome parse(const QStringList &arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption help({u"h"_s, u"help"_s}, u"Show this help and exit."_s);
    const QCommandLineOption version({u"V"_s, u"version"_s}, u"Show the version and exit."_s);
    parser.addOption(help);
    parser.addOption(version);
    const bool understood = parser.parse(arguments);
    // Asking for help wins over a mistake elsewhere on the line, as the user wants to learn.
    if (parser.isSet(help))
        return {Action::Help, helpText(), 0};
    if (parser.isSet(version))
        return {Action::Version,
                u"vantrel "_s + Version::text() + u'\n' + Version::legalCopyright() + u'\n', 0};
    if (!understood)
        return refuse(parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        return refuse(u"unexpected argument '"_s + parser.positionalArguments().constFirst() +
                      u"'; the range is typed in the window."_s);
    return {};
}

QStringList arguments(int argc, char *argv[])
{
    QStringList list;
    for (int i = 0; i < argc; ++i)
        list.append(QString::fromLocal8Bit(argv[i]));
    return list;
}

void report(const Outcome &outcome)
{
    if (outcome.text.isEmpty())
        return;
    const QByteArray bytes = outcome.text.toLocal8Bit();
    std::fputs(bytes.constData(), outcome.action == Action::Refuse ? stderr : stdout);
}

} // namespace CommandLine
