#pragma once

#include "app/ScanSettings.h"
#include "scan/AddressRange.h"

#include <QList>
#include <QString>
#include <QStringList>

class QIODevice;

// The command line of vantrel-scan: the ranges, the scan settings of this run (the
// scanner's own defaults, or the window's saved settings when asked for, with the options
// laid over them) and where and how the rows go.
struct ScanOptions
{
    // The scanner's own defaults: a script's answer never depends on what the window saved.
    static constexpr ScanSettings Defaults{2, 1000, 64, 250, true, false};
    static constexpr int DefaultRate = 100;

    enum class Format
    {
        Csv,
        Text,
        Jsonl
    };

    // The addresses to sweep, ascending, without overlaps, and their overall span.
    QList<AddressRange> ranges;
    AddressRange range;
    ScanSettings settings = Defaults;
    int rate = DefaultRate; // addresses per second; 0: the delay paces the walk
    bool savedSettings = false;
    QString outputFile; // empty: standard output
    Format format = Format::Csv;
    bool quiet = false;
    bool compare = false;      // print the differences from the earlier scan of the range
    bool failOnChange = false; // exit with ChangesFound when there are any
    bool noHistory = false;    // do not record the scan

    enum class Outcome
    {
        Run,
        Help,
        Version,
        Refused // usage error; `error` says why
    };
    struct Parsed;

    // `arguments` without the program name. `saved` are the window's settings, used with
    // --saved-settings. `standardInput` is read for "-f -".
    static Parsed parse(const QStringList &arguments, const ScanSettings &saved,
                        QIODevice *standardInput = nullptr);
    static QString helpText();
    // The ranges as one text, for the history's key of a scan of several ranges.
    QString rangesText() const;
};

struct ScanOptions::Parsed
{
    Outcome outcome = Outcome::Refused;
    ScanOptions options;
    QString error;
};
