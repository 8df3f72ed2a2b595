#pragma once

#include <QObject>
#include <QTimer>

class EchoControl;
class LookupControl;
class ScanEngine;

// Tells when a scan has ended in fact. A completed scan has: the engine completes only
// once every request and lookup of the scan is done. After a stop, replies and lookups
// still in flight are awaited, within a deadline, so that no row listed is lost.
class ScanEndWatcher : public QObject
{
    Q_OBJECT
public:
    ScanEndWatcher(ScanEngine &engine, EchoControl &echo, LookupControl &lookup,
                   QObject *parent = nullptr);

    // After a stop: ends once nothing is in flight, or within `milliseconds` regardless.
    void endWithin(int milliseconds);
    // Ends now, whatever is outstanding.
    void endNow();

Q_SIGNALS:
    void ended();

private:
    void check();
    void finish();

    EchoControl &m_echo;
    LookupControl &m_lookup;
    QTimer m_deadline;
    bool m_stopping = false;
    bool m_ended = false;
};
