#pragma once

#include "app/AtomicFile.h"

#include <QFile>
#include <QString>

// Where the rows go: standard output, or a file replaced through the export's atomic writer,
// so a failed run leaves the old file intact. A pipe or device named as the output
// (/dev/stdout, a FIFO) is written to directly, never replaced.
class OutputTarget
{
public:
    // Empty path: standard output.
    explicit OutputTarget(const QString &path);

    // Opened before the scan, so a wrong path costs no scan. False with error() set.
    bool open();
    QIODevice &device();
    // Flushes and, for a file, puts it in place. False with error() set; nothing replaced.
    bool commit();
    QString error() const { return m_error; }
    QString name() const;

private:
    QString m_path;
    QFile m_direct;
    AtomicFile m_file;
    QString m_error;
};
