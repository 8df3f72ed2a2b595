#pragma once

#include <QFile>
#include <QSaveFile>
#include <QString>

// Where the rows go: standard output, or a file that replaces an existing one only once it
// is complete and flushed, so a failed run leaves the old file intact. Pipes and devices
// named as the output are written to directly.
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
    QFile m_direct; // standard output, a pipe or a device
    QSaveFile m_file;
    QString m_error;
};
