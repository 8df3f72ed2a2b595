#pragma once

#include "cli/ScanOptions.h"

// One run of vantrel-scan after its options were accepted: opens the ICMP socket and the
// output, drives the scan engine through a view without a window until the scan has ended
// or a signal stopped it, records it in the history, writes the rows (and what changed since
// the earlier scan) and gives the exit status.
class ScanRun
{
public:
    enum ExitStatus
    {
        RowsListed = 0,
        NothingListed = 1,
        BadUsage = 2,
        NoIcmpSocket = 3,
        OutputFailed = 4,
        ChangesFound = 5, // --fail-on-change
        NotCompared = 6,  // --fail-on-change without an earlier scan to compare with
        NotRecorded = 7,  // the history could not take the scan
        SignalBase = 128, // + the signal's number
    };

    explicit ScanRun(const ScanOptions &options);
    int exec();

    // "vantrel-scan: " + text on standard error.
    static void message(const QString &text);

private:
    ScanOptions m_options;
};
