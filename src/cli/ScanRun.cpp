#include "cli/ScanRun.h"

#include "app/Version.h"
#include "cli/HeadlessScanView.h"
#include "cli/OutputTarget.h"
#include "cli/ProgressLine.h"
#include "cli/ResultWriter.h"
#include "cli/ScanEndWatcher.h"
#include "cli/SignalWatcher.h"
#include "cli/StandardOutput.h"
#include "history/ScanRecorder.h"
#include "scan/IP_Functions.h"
#include "scan/ScanEngine.h"
#include "scan/components/AresLookup.h"
#include "scan/components/DeviceNameLookup.h"
#include "scan/components/IcmpEcho.h"
#include "scan/components/NeighbourTable.h"
#include "scan/components/ResultGrid.h"

#include <QEventLoop>

#include <cstdio>

using namespace Qt::StringLiterals;

ScanRun::ScanRun(const ScanOptions &options)
    : m_options(options)
{}

void ScanRun::message(const QString &text)
{
    std::fputs((u"vantrel-scan: "_s + text + u'\n').toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
}

int ScanRun::exec()
{
    const ScanOptions &o = m_options;
    IcmpEcho echo;
    if (!echo.isAvailable()) {
        message(echo.unavailableReason());
        return NoIcmpSocket;
    }
    OutputTarget output(o.outputFile);
    if (!output.open()) {
        message(u"Cannot write %1: %2"_s.arg(output.name(), output.error()));
        return OutputFailed;
    }

    // Declared so that the engine goes before the controls whose signals it hears.
    DeviceNameLookup lookup(std::make_unique<AresLookup>());
    QObject::connect(&lookup, &LookupControl::problem, &ScanRun::message);
    NeighbourTable neighbours;
    ResultGrid table;
    table.setCols(5); // address, time, name, hardware address, maker
    HeadlessScanView view(o.range.firstText(), o.range.lastText());
    ScanEngine engine(echo, lookup, table, view);
    engine.setNeighbours(&neighbours);
    if (o.ranges.size() > 1) {
        std::vector<ScanEngine::Piece> pieces;
        for (const AddressRange &r : o.ranges)
            pieces.emplace_back(r.first, r.last);
        engine.setPieces(std::move(pieces));
    }
    echo.setEchoData(Version::fileDescription() + u" Version "_s + Version::text() +
                     u" (vantrel-scan)"_s);
    echo.setEchoTimeout(o.settings.Ping_Timeout);
    echo.setEchoTTL(o.settings.Ping_TTL);
    engine.Pings_per_Node = o.settings.Pings_per_Node;
    engine.setInter_Ping_Delay(o.settings.Inter_Ping_Delay);
    engine.Resolve_DNS = o.settings.Resolve_DNS;
    engine.Reverse_Scan = o.settings.Reverse_Scan;
    engine.listArpOnly = o.settings.listArpOnly;
    if (o.rate > 0)
        engine.setAddressRate(o.rate);

    // Opened after the socket check, so a run that cannot scan leaves the history alone. A
    // comparison alone only reads it.
    std::unique_ptr<ScanRecorder> recorder;
    const bool comparing = o.compare || o.failOnChange;
    const bool recording = !o.noHistory;
    if (recording || comparing) {
        recorder = std::make_unique<ScanRecorder>(table);
        recorder->setRowReady(
            [&](qsizetype row) { return !engine.hardwarePending(table.cellText(row, 0)); });
        QObject::connect(recorder.get(), &ScanRecorder::problem, &ScanRun::message);
        recorder->open(ScanHistory::defaultPath(), ScanHistory::DefaultKeep,
                       recording ? ScanRecorder::Mode::Record : ScanRecorder::Mode::CompareOnly);
    }
    // A scan of several ranges is its own kind in the history: its ranges are its key.
    const QString historyFirst = o.ranges.size() > 1 ? o.rangesText() : o.range.firstText();
    const QString historyLast = o.ranges.size() > 1 ? QString() : o.range.lastText();
    if (recorder) {
        QObject::connect(&engine, &ScanEngine::scanStarting, recorder.get(),
                         [&] { recorder->scanStarting(historyFirst, historyLast, o.settings); });
        if (!o.noHistory) {
            QObject::connect(&engine, &ScanEngine::scanEnded, recorder.get(),
                             &ScanRecorder::scanEnded);
        }
    }

    ScanEndWatcher watcher(engine, echo, lookup);
    SignalWatcher signalWatcher;
    std::int64_t total = 0;
    for (const AddressRange &r : o.ranges)
        total += r.size();
    ProgressLine progress(total, engine, view, lookup);
    int stoppedBy = 0;
    QObject::connect(&signalWatcher, &SignalWatcher::received, &watcher, [&](int signalNumber) {
        if (stoppedBy != 0) {
            watcher.endNow();
            return;
        }
        stoppedBy = signalNumber;
        if (engine.isRunning())
            engine.Scan_Button_Click();
        watcher.endWithin(echo.EchoTimeout());
    });

    // Text and jsonl on standard output go a row at a time, each as soon as it is complete:
    // listed, with its hardware address once the neighbour table answered, and with lookups
    // once its name is in. A file (-o) is written whole at the end.
    ResultWriter::Facts facts(1);
    const bool streaming = o.outputFile.isEmpty() && o.format != ScanOptions::Format::Csv;
    StandardOutput stream;
    bool readerGone = false;
    const auto stopForGoodReason = [&] {
        if (engine.isRunning())
            engine.Scan_Button_Click();
        watcher.endNow();
    };
    const auto rowComplete = [&](qsizetype row) {
        const ResultWriter::RowFacts &f = facts[std::size_t(row)];
        if (!streaming || readerGone || stream.failed() || f.written || !f.hardwareDone ||
            (o.settings.Resolve_DNS && f.lookup < 0))
            return;
        if (!stream.write(ResultWriter::rowLine(table, row, facts[std::size_t(row)], o))) {
            readerGone = stream.readerGone();
            stopForGoodReason();
            return;
        }
        facts[std::size_t(row)].written = true;
    };
    // Only text and jsonl use what the cells do not say; csv needs nothing per row here.
    if (o.format != ScanOptions::Format::Csv) {
        QObject::connect(&engine, &ScanEngine::rowListed, &watcher,
                         [&](qsizetype row, std::int64_t roundTripNs) {
                             if (std::size_t(row) >= facts.size())
                                 facts.resize(std::size_t(row) + 1);
                             facts[std::size_t(row)].roundTripNs = roundTripNs;
                         });
        QObject::connect(&engine, &ScanEngine::hardwareAnswered, &watcher, [&](qsizetype row) {
            if (std::size_t(row) >= facts.size())
                return;
            facts[std::size_t(row)].hardwareDone = true;
            rowComplete(row);
        });
        QObject::connect(&engine, &ScanEngine::nameAnswered, &watcher,
                         [&](qsizetype row, int status) {
                             if (std::size_t(row) >= facts.size())
                                 return;
                             facts[std::size_t(row)].lookup = status;
                             rowComplete(row);
                         });
    }
    QEventLoop loop;
    QObject::connect(&watcher, &ScanEndWatcher::ended, &loop, &QEventLoop::quit);

    ResultWriter::Summary summary;
    summary.options = o;
    summary.started = QDateTime::currentDateTimeUtc();
    engine.Scan_Button_Click();
    if (!engine.isRunning()) {
        message(view.refusal());
        return echo.isAvailable() ? BadUsage : NoIcmpSocket;
    }
    if (ProgressLine::wanted(o.quiet))
        progress.start();
    if (streaming && !stream.write(ResultWriter::header(o.format))) {
        readerGone = stream.readerGone();
        stopForGoodReason();
    }
    loop.exec();
    progress.stop();
    summary.ended = QDateTime::currentDateTimeUtc();
    summary.interrupted = stoppedBy != 0;
    summary.waits = engine.slotWaits();
    summary.requestsSent = engine.requestsSent();
    if (summary.waits.count > 0 && !o.quiet) {
        message(u"The request table was full %1 times; the sweep waited %2 s in all for free "
                "places (no address was skipped)."_s.arg(summary.waits.count)
                    .arg(double(summary.waits.walkPausedNs) / 1e9, 0, 'f', 1));
    }
    // The whole scan, with rows listed after a stop; waits while another program holds the
    // file.
    const bool recorded = recording && recorder && recorder->finishRecording();
    // The reader went away: the scan is kept, and the program ends as a closed pipe ends
    // any program that writes to it, without a word.
    if (readerGone)
        StandardOutput::endAsSigpipe();
    if (stream.failed()) {
        message(u"Cannot write standard output: %1"_s.arg(stream.error()));
        return OutputFailed;
    }
    if (comparing) {
        // After a stop, only the addresses that had their outcome.
        if (recorder) {
            summary.comparison = recorder->compare(
                {engine.settledCount(), engine.state().Address_Span + 1, engine.lastSettled()});
        }
        if (!summary.comparison) {
            summary.notCompared =
                recorder ? recorder->noComparison() : u"The scan history could not be opened."_s;
            message(summary.notCompared);
        }
    }
    const bool compared = summary.comparison.has_value();
    const bool changed = compared && !summary.comparison->changes.isEmpty();
    if (!o.compare)
        summary.comparison.reset();

    QString error;
    if (!ResultWriter::write(output.device(), table, summary, facts, streaming, error) ||
        !output.commit()) {
        if (o.outputFile.isEmpty() && StandardOutput::isReaderGone())
            StandardOutput::endAsSigpipe();
        message(
            u"Cannot write %1: %2"_s.arg(output.name(), error.isEmpty() ? output.error() : error));
        return OutputFailed;
    }
    if (stoppedBy != 0)
        return SignalBase + stoppedBy;
    if (o.failOnChange && changed)
        return ChangesFound;
    if (o.failOnChange && !compared)
        return NotCompared;
    if (recording && !recorded)
        return NotRecorded;
    return table.Rows() > 1 ? RowsListed : NothingListed;
}
