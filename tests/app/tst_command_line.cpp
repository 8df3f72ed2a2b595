#include "app/CommandLine.h"
#include "app/Version.h"

#include <QTest>

using CommandLine::Action;

class TestCommandLine : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void parse_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<Action>("action");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("text");

        QTest::newRow("nothing runs") << QStringList{} << Action::Run << 0 << QString();
        QTest::newRow("--version") << QStringList{"--version"} << Action::Version << 0
                                   << "vantrel " + Version::text() + "\n";
        QTest::newRow("-V") << QStringList{"-V"} << Action::Version << 0 << "vantrel ";
        QTest::newRow("--help") << QStringList{"--help"} << Action::Help << 0
                                << "Usage: vantrel [options]\n";
        QTest::newRow("help despite a mistake")
            << QStringList{"--bogus", "-h"} << Action::Help << 0 << "Usage: vantrel";
        QTest::newRow("unknown option") << QStringList{"--bogus"} << Action::Refuse << 2
                                        << "vantrel: Unknown option 'bogus'.\nTry 'vantrel --help'";
        QTest::newRow("a range belongs in the window")
            << QStringList{"10.0.0.1"} << Action::Refuse << 2
            << "vantrel: unexpected argument '10.0.0.1'; the range is typed in the window.\n";
    }
    void parse()
    {
        QFETCH(QStringList, arguments);
        QFETCH(Action, action);
        QFETCH(int, exitCode);
        QFETCH(QString, text);

        const auto outcome = CommandLine::parse(QStringList{"vantrel"} + arguments);
        QCOMPARE(outcome.action, action);
        QCOMPARE(outcome.exitCode, exitCode);
        QVERIFY2(outcome.text.startsWith(text), qPrintable(outcome.text));
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_command_line.moc"
