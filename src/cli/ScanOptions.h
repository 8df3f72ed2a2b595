#pragma once

#include "app/ScanSettings.h"
#include "scan/AddressRange.h"

#include <QString>
#include <QStringList>

// The command line of vantrel-scan: the range, the scan settings of this run (the user's
// saved settings with the options laid over them) and where and how the rows go.
struct ScanOptions
{
    enum class Format
    {
        Csv,
        Text,
        Jsonl
    };

    AddressRange range;
    ScanSettings settings;
    int rate = 0;       // addresses per second; 0: the delay paces the walk
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

    // `arguments` without the program name. `saved` are the settings the options override.
    static Parsed parse(const QStringList &arguments, const ScanSettings &saved);
    static QString helpText();
};

struct ScanOptions::Parsed
{
    Outcome outcome = Outcome::Refused;
    ScanOptions options;
    QString error;
};
