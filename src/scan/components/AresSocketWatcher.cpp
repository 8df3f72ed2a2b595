#include "scan/components/AresSocketWatcher.h"

#include <QSocketNotifier>

#include <algorithm>

AresSocketWatcher::AresSocketWatcher(QObject *parent)
    : QObject(parent)
{
    m_timer.setSingleShot(true);
    // A coarse timer may fire a little early; c-ares would find nothing due yet and we
    // would re-arm in a tight loop until the deadline.
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this,
            [this] { process(ARES_SOCKET_BAD, ARES_SOCKET_BAD); });
}

AresSocketWatcher::~AresSocketWatcher() = default;

void AresSocketWatcher::sockStateCallback(void *data, ares_socket_t fd, int readable, int writable)
{
    static_cast<AresSocketWatcher *>(data)->socketState(fd, readable != 0, writable != 0);
}

void AresSocketWatcher::setChannel(ares_channel channel)
{
    m_channel = channel;
    if (!m_channel)
        m_timer.stop();
}

void AresSocketWatcher::rearm()
{
    if (!m_channel) {
        m_timer.stop();
        return;
    }
    timeval tv{};
    if (!ares_timeout(m_channel, nullptr, &tv)) {
        m_timer.stop();
        return;
    }
    // Round up so the timer never fires before c-ares considers the time-out due.
    const qint64 ms = qint64(tv.tv_sec) * 1000 + (tv.tv_usec + 999) / 1000;
    m_timer.start(int(std::clamp<qint64>(ms, 0, 24 * 3600 * 1000)));
}

void AresSocketWatcher::socketState(ares_socket_t fd, bool readable, bool writable)
{
    if (!readable && !writable) {
        // The socket is being closed: its number may come straight back for the next
        // query, so the old notifiers must be off before new ones exist. This can run
        // inside a notifier's own activation, hence deleteLater.
        const auto it = m_sockets.constFind(fd);
        if (it == m_sockets.cend())
            return;
        retire(it->read);
        retire(it->write);
        m_sockets.erase(it);
        return;
    }

    Notifiers &n = m_sockets[fd];
    if (!n.read) {
        n.read = new QSocketNotifier(fd, QSocketNotifier::Read, this);
        n.read->setEnabled(false);
        connect(n.read, &QSocketNotifier::activated, this,
                [this, fd] { process(fd, ARES_SOCKET_BAD); });
        n.write = new QSocketNotifier(fd, QSocketNotifier::Write, this);
        n.write->setEnabled(false);
        connect(n.write, &QSocketNotifier::activated, this,
                [this, fd] { process(ARES_SOCKET_BAD, fd); });
    }
    n.read->setEnabled(readable);
    // A socket is nearly always writable: left on, this notifier would spin the loop.
    n.write->setEnabled(writable);
}

void AresSocketWatcher::process(ares_socket_t readFd, ares_socket_t writeFd)
{
    if (!m_channel)
        return;
    ares_process_fd(m_channel, readFd, writeFd);
    rearm();
}

void AresSocketWatcher::retire(QSocketNotifier *notifier)
{
    if (!notifier)
        return;
    notifier->setEnabled(false);
    notifier->disconnect();
    notifier->deleteLater();
}
