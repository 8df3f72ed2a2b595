#pragma once

#include <QObject>
#include <QTimer>

class EchoControl;
class HeadlessScanView;
class LookupControl;

// Tells when a scan has ended in fact: the engine has stopped (completed or stopped) and
// no echo request or lookup is outstanding, so no further row or name can arrive. The one
// place that knows how the end is recognised.
class ScanEndWatcher : public QObject
{
    Q_OBJECT
public:
    ScanEndWatcher(HeadlessScanView &view, EchoControl &echo, LookupControl &lookup,
                   QObject *parent = nullptr);

    // After a stop: ends within `milliseconds` even if replies or lookups are still out.
    void endWithin(int milliseconds);
    // Ends now, whatever is outstanding.
    void endNow();

Q_SIGNALS:
    void ended();

private:
    void check();
    void finish();

    HeadlessScanView &m_view;
    EchoControl &m_echo;
    LookupControl &m_lookup;
    QTimer m_deadline;
    bool m_started = false;
    bool m_ended = false;
};
