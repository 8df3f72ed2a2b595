#include "output/CsvExport.h"
#include "scan/components/ResultGrid.h"

#include <QBuffer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using Rows = QList<QStringList>;

namespace {

const QDateTime Afternoon(QDate(1999, 8, 23), QTime(15, 5, 12));
const QLocale Us(QLocale::English, QLocale::UnitedStates);

void fill(ResultGrid &table, const Rows &rows)
{
    table.setRows(rows.size() + 1);
    for (qsizetype r = 0; r < rows.size(); ++r) {
        table.setRow(r + 1);
        for (int c = 0; c < rows[r].size(); ++c) {
            table.setCol(c);
            table.setText(rows[r][c]);
        }
    }
}

// A disk that fills up after a given number of bytes.
class FailingDevice : public QIODevice
{
public:
    explicit FailingDevice(qint64 room)
        : room(room)
    {
        open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    }
    qint64 room;

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *, qint64 len) override
    {
        if (room == 0) {
            setErrorString(QStringLiteral("No space left on device"));
            return -1;
        }
        const qint64 n = qMin(len, room);
        room -= n;
        return n;
    }
};

} // namespace

class TestCsvExport : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void layout_data()
    {
        QTest::addColumn<Rows>("rows");
        QTest::addColumn<QString>("start");
        QTest::addColumn<QByteArray>("lines"); // after the four comment lines
        const QString start = QStringLiteral("10.0.0.1");
        QTest::newRow("header row only") << Rows{} << start << QByteArray();
        QTest::newRow("with and without names")
            << Rows{{"10.0.0.1", "1 ms", "gw.example"}, {"192.168.1.5", "3 ms", ""}} << start
            << QByteArray("10.0.0.1,1 ms,gw.example\r\n192.168.1.5,3 ms,\r\n");
        QTest::newRow("lookup outstanding")
            << Rows{{"10.0.0.7", "12 ms", " resolving ..."}} << start
            << QByteArray("10.0.0.7,12 ms, resolving ...\r\n");
        QTest::newRow("non-ASCII name in UTF-8")
            << Rows{{"10.0.0.2", "2 ms", QStringLiteral("h\u00f6st")}} << start
            << QByteArray("10.0.0.2,2 ms,h\xc3\xb6st\r\n");
        QTest::newRow("comma quoted")
            << Rows{{"10.0.0.3", "a,b", ""}} << start << QByteArray("10.0.0.3,\"a,b\",\r\n");
        QTest::newRow("double quote quoted") << Rows{{"10.0.0.3", "1 ms", "say \"hi\""}} << start
                                             << QByteArray("10.0.0.3,1 ms,\"say \"\"hi\"\"\"\r\n");
        QTest::newRow("line break quoted") << Rows{{"10.0.0.3", "a\nb", "c\r\nd"}} << start
                                           << QByteArray("10.0.0.3,\"a\nb\",\"c\r\nd\"\r\n");
        QTest::newRow("empty range box") << Rows{} << QString() << QByteArray();
        QTest::newRow("line break in range box") << Rows{} << "10.0\r\n.0.1" << QByteArray();
    }
    void layout()
    {
        QFETCH(Rows, rows);
        QFETCH(QString, start);
        QFETCH(QByteArray, lines);
        ResultGrid table;
        fill(table, rows);
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        const auto result =
            CsvExport::write(buffer, table, start, QStringLiteral("10.0.0.254"), Afternoon, Us);
        QVERIFY(result.ok);
        QCOMPARE(result.records, rows.size());
        start.replace(QStringLiteral("\r\n"), QStringLiteral("  "));
        QCOMPARE(buffer.data(), "# Scan from " + start.toUtf8() +
                                    " to 10.0.0.254\r\n"
                                    "# Exported from Zarnholt Vantrel, Version 1.3.0\r\n"
                                    "# 8/23/1999 3:05:12 PM\r\n"
                                    "# \r\n" +
                                    lines);
    }

    void generalDate_data()
    {
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<QDateTime>("when");
        QTest::addColumn<QString>("expected");
        const QDate day(1999, 8, 23);
        QTest::newRow("US afternoon") << Us << Afternoon << "8/23/1999 3:05:12 PM";
        QTest::newRow("US midnight") << Us << QDateTime(day, QTime(0, 0)) << "8/23/1999";
        QTest::newRow("US second after midnight")
            << Us << QDateTime(day, QTime(0, 0, 1)) << "8/23/1999 12:00:01 AM";
        QTest::newRow("zone before time")
            << QLocale(QLocale::Chinese, QLocale::China) << Afternoon << "1999/8/23 15:05:12";
        QTest::newRow("zone in brackets")
            << QLocale(QLocale::Spanish, QLocale::Spain) << Afternoon << "23/8/1999 15:05:12";
        QTest::newRow("quoted literals")
            << QLocale(QLocale::Bulgarian, QLocale::Bulgaria) << Afternoon
            << QStringLiteral("23.08.1999 \u0433. 15:05:12 \u0447.");
    }
    void generalDate()
    {
        QFETCH(QLocale, locale);
        QFETCH(QDateTime, when);
        QFETCH(QString, expected);
        QCOMPARE(CsvExport::generalDate(when, locale), expected);
    }

    void countBeyondSixteenBits()
    {
        ResultGrid table;
        table.setRows(40001);
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        QCOMPARE(CsvExport::write(buffer, table, {}, {}, Afternoon, Us).records, 40000);
        QCOMPARE(buffer.data().count(",,\r\n"), 40000);
    }

    void failingDevice_data()
    {
        QTest::addColumn<qint64>("room");
        QTest::newRow("full from the start") << qint64(0);
        QTest::newRow("full inside the header") << qint64(50);
        QTest::newRow("full among the data") << qint64(40000);
    }
    void failingDevice()
    {
        QFETCH(qint64, room);
        ResultGrid table;
        table.setRows(20001);
        FailingDevice device(room);
        const auto result = CsvExport::write(device, table, {}, {}, Afternoon, Us);
        QVERIFY(!result.ok);
        QCOMPARE(result.error, QStringLiteral("No space left on device"));
    }

    void readBackWithCsvReader()
    {
        const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
        if (python.isEmpty())
            QSKIP("python3 is not installed");
        const Rows rows = {{"10.0.0.1", "1 ms", "a,b"},
                           {"10.0.0.2", "Request Timed Out", "say \"hi\""},
                           {"10.0.0.3", "3 ms", "two\r\nlines"},
                           {"10.0.0.4", "4 ms", ""},
                           {"10.0.0.5", "5 ms", QStringLiteral("h\u00f6st")}};
        ResultGrid table;
        fill(table, rows);
        QTemporaryDir dir;
        QFile file(dir.filePath(QStringLiteral("out.csv")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(CsvExport::write(file, table, {}, {}, Afternoon, Us).ok);
        file.close();

        QProcess reader;
        reader.start(python, {QStringLiteral("-c"),
                              QStringLiteral("import csv, json, sys\n"
                                             "f = open(sys.argv[1], newline='', encoding='utf-8')\n"
                                             "head = [f.readline() for _ in range(4)]\n"
                                             "json.dump(list(csv.reader(f, strict=True)), "
                                             "sys.stdout)\n"),
                              file.fileName()});
        QVERIFY(reader.waitForFinished());
        QCOMPARE(reader.exitCode(), 0);
        const QJsonArray records = QJsonDocument::fromJson(reader.readAllStandardOutput()).array();
        QCOMPARE(records.size(), rows.size());
        for (qsizetype r = 0; r < rows.size(); ++r)
            QCOMPARE(records[r].toVariant().toStringList(), rows[r]);
    }
};

QTEST_GUILESS_MAIN(TestCsvExport)
#include "tst_csv_export.moc"
