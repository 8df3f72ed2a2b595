#include "cli/ScanRun.h"

#include "app/Version.h"
#include "cli/HeadlessScanView.h"
#include "cli/OutputTarget.h"
#include "cli/ProgressLine.h"
#include "cli/ResultWriter.h"
#include "cli/ScanEndWatcher.h"
#include "cli/SignalWatcher.h"
#include "history/ScanRecorder.h"
#include "scan/IP_Functions.h"
#include "scan/ScanEngine.h"
#include "scan/components/AresLookup.h"
#include "scan/components/IcmpEcho.h"
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
    AresLookup lookup;
    QObject::connect(&lookup, &LookupControl::problem, &ScanRun::message);
    ResultGrid table;
    HeadlessScanView view(o.range.firstText(), o.range.lastText());
    ScanEngine engine(echo, lookup, table, view);
    echo.setEchoData(Version::fileDescription() + u" Version "_s + Version::text() +
                     u" (vantrel-scan)"_s);
    echo.setEchoTimeout(o.settings.Ping_Timeout);
    echo.setEchoTTL(o.settings.Ping_TTL);
    engine.Pings_per_Node = o.settings.Pings_per_Node;
    engine.setInter_Ping_Delay(o.settings.Inter_Ping_Delay);
    engine.Resolve_DNS = o.settings.Resolve_DNS;
    engine.Reverse_Scan = o.settings.Reverse_Scan;
    if (o.rate > 0)
        engine.setAddressRate(o.rate);

    // Opened after the socket check, so a run that cannot scan leaves the history alone. A
    // comparison alone only reads it.
    std::unique_ptr<ScanRecorder> recorder;
    const bool comparing = o.compare || o.failOnChange;
    const bool recording = !o.noHistory;
    if (recording || comparing) {
        recorder = std::make_unique<ScanRecorder>(table);
        QObject::connect(recorder.get(), &ScanRecorder::problem, &ScanRun::message);
        recorder->open(ScanHistory::defaultPath(), ScanHistory::DefaultKeep,
                       recording ? ScanRecorder::Mode::Record : ScanRecorder::Mode::CompareOnly);
    }
    if (recorder) {
        QObject::connect(&engine, &ScanEngine::scanStarting, recorder.get(), [&] {
            recorder->scanStarting(IP_Functions::Number_To_Address(engine.startAddress()),
                                   IP_Functions::Number_To_Address(engine.endAddress()),
                                   o.settings);
        });
        if (!o.noHistory) {
            QObject::connect(&engine, &ScanEngine::scanEnded, recorder.get(),
                             &ScanRecorder::scanEnded);
        }
    }

    ScanEndWatcher watcher(engine, echo, lookup);
    SignalWatcher signalWatcher;
    ProgressLine progress(o.range, view, lookup);
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
    loop.exec();
    progress.stop();
    summary.ended = QDateTime::currentDateTimeUtc();
    summary.interrupted = stoppedBy != 0;
    summary.waits = engine.slotWaits();
    if (summary.waits.count > 0 && !o.quiet) {
        message(u"The request table was full %1 times; the sweep waited %2 s in all for free "
                "places (no address was skipped)."_s.arg(summary.waits.count)
                    .arg(double(summary.waits.walkPausedNs) / 1e9, 0, 'f', 1));
    }
    // The whole scan, with rows listed after a stop; waits while another program holds the
    // file.
    const bool recorded = recording && recorder && recorder->finishRecording();
    if (comparing) {
        // After a stop, only the addresses that had their outcome.
        if (recorder)
            summary.comparison = recorder->compare(engine.settledCount());
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
    if (!ResultWriter::write(output.device(), table, summary, error) || !output.commit()) {
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
