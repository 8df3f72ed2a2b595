#pragma once

#include <QByteArray>
#include <QFile>

// A figure of this process from /proc/self/status in KiB ("VmHWM:" peak, "VmRSS:" now);
// -1 when it cannot be read.
inline qint64 processStatusKiB(const QByteArray &key)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    // /proc files report size 0: read to the end.
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}
