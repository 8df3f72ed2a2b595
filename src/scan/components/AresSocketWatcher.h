#pragma once

#include <QHash>
#include <QObject>
#include <QTimer>

#include <ares.h>

class QSocketNotifier;

// Drives one c-ares channel from the Qt event loop: a read and a write notifier for each
// socket c-ares asks about, and one timer for its time-outs. Install sockStateCallback with
// this object as its data before the channel is created, then hand over the channel.
class AresSocketWatcher : public QObject
{
    Q_OBJECT
public:
    explicit AresSocketWatcher(QObject *parent = nullptr);
    ~AresSocketWatcher() override;

    static void sockStateCallback(void *data, ares_socket_t fd, int readable, int writable);

    // Null detaches: the watcher then makes no further c-ares calls.
    void setChannel(ares_channel channel);

    // Re-arms the time-out timer from ares_timeout; call after every c-ares call that may
    // have started or ended queries.
    void rearm();

private:
    struct Notifiers
    {
        QSocketNotifier *read = nullptr;
        QSocketNotifier *write = nullptr;
    };

    void socketState(ares_socket_t fd, bool readable, bool writable);
    void process(ares_socket_t readFd, ares_socket_t writeFd);
    static void retire(QSocketNotifier *notifier);

    ares_channel m_channel = nullptr;
    QHash<ares_socket_t, Notifiers> m_sockets;
    QTimer m_timer;
};
