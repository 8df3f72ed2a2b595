#pragma once

#include "scan/components/HostsIndex.h"
#include "scan/components/LookupControl.h"

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QString>

#include <memory>

struct ares_channeldata;
class AresSocketWatcher;

// Reverse lookups on the Qt event loop: the hosts file first (through our own index, as
// c-ares would parse the whole file for every lookup), then a PTR query with c-ares to the
// DNS servers. A server that never answers ends a lookup after 1.5 s + 3 s (the
// second try waits twice as long) per configured server.
//
// Answers are always delivered from the event loop, except those of CancelLookups and of
// the destructor, which answer every outstanding lookup with Cancelled before returning.
// An owner that must not hear those from the destructor disconnects first.
class AresLookup : public LookupControl
{
    Q_OBJECT
public:
    struct Config
    {
        // Comma-separated "address" or "address:port" entries used instead of the servers
        // of /etc/resolv.conf; empty means the system's.
        QString servers;
        bool useHostsFile = true;
        QString hostsFile = QStringLiteral("/etc/hosts");
    };

    static constexpr int Capacity = 1000;
    static constexpr int TimeoutMs = 1500;
    static constexpr int Tries = 2;
    static constexpr int MaxNameLength = 253;

    explicit AresLookup(QObject *parent = nullptr);
    explicit AresLookup(const Config &config, QObject *parent = nullptr);
    ~AresLookup() override;

    QString LookupTag() const override { return m_tag; }
    void setLookupTag(const QString &tag) override { m_tag = tag; }
    void StartLookup(const QString &address) override;
    int LookupsPending() const override { return int(m_requests.size()); }
    int LookupCapacity() const override { return Capacity; }
    void CancelLookups() override;

    // A host name from outside, made safe to show: printable ASCII only (anything else
    // becomes '?'), no trailing dot, at most MaxNameLength characters.
    static QString sanitizedName(const char *name);

private:
    enum class Stage
    {
        Running,    // c-ares holds it
        Answered,   // answer known, delivery queued
        Delivering, // its LookupAnswer handler is running
    };
    struct Request
    {
        QString address;
        QString tag;
        quint32 addr = 0; // network byte order
        QElapsedTimer clock;
        Stage stage = Stage::Running;
        int status = Found;
        QString result;
        int elapsedMs = 0;
    };
    struct CallContext
    {
        AresLookup *self;
        quint64 id;
    };

    static const Request *runningRequest(const CallContext &context);
    // The end of a PTR query: c-ares status, and the name when it found one.
    static void ptrAnswered(void *arg, int status, const QString &name);

    void startQuery(quint64 id);
    void finish(quint64 id, int status, const QString &result);
    void deliver(quint64 id);
    QList<quint64> markAllCancelled();
    bool deliverAll(const QList<quint64> &ids);
    void cancelAresQueries();

    Config m_config;
    QString m_tag;
    QString m_initError;
    HostsIndex m_hosts;
    std::unique_ptr<AresSocketWatcher> m_watcher;
    ares_channeldata *m_channel = nullptr;
    QHash<quint64, Request> m_requests;
    quint64 m_nextId = 1;
    int m_aresDepth = 0; // inside a c-ares call that may run our callbacks
    bool m_destroying = false;
};
