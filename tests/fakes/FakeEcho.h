#pragma once

#include "scan/components/EchoControl.h"

#include <QList>

// An echo control whose replies come when the test says.
class FakeEcho : public EchoControl
{
    Q_OBJECT
public:
    struct Sent
    {
        QString address;
        QString tag;
        bool async;
    };

    QList<Sent> sent;
    bool available = true;
    QString errorText = QStringLiteral("Request timed out");
    int pending = 0;
    int capacity = 1 << 20;
    int cancels = 0;
    int errorNumber = 0; // what a waiting send leaves behind
    int roundTrip = 0;

    void setEchoData(const QString &) override {}
    int EchoTimeout() const override { return m_timeout; }
    void setEchoTimeout(int ms) override { m_timeout = ms; }
    int EchoTTL() const override { return m_ttl; }
    void setEchoTTL(int ttl) override { m_ttl = ttl; }
    bool EchoAsync() const override { return m_async; }
    void setEchoAsync(bool async) override { m_async = async; }
    QString EchoTag() const override { return m_tag; }
    void setEchoTag(const QString &tag) override { m_tag = tag; }
    void SendEcho(const QString &address) override
    {
        sent.append({address, m_tag, m_async});
        ++pending;
    }
    int EchoErrorNumber() const override { return errorNumber; }
    int EchoRoundTrip() const override { return roundTrip; }
    QString EchoErrorText() const override { return errorText; }
    void CancelEchoes() override { ++cancels; }
    int EchoesPending() const override { return pending; }
    int EchoCapacity() const override { return capacity; }
    bool isAvailable() const override { return available; }
    QString unavailableReason() const override { return QStringLiteral("No ICMP socket here"); }
    QString socketMode() const override { return QStringLiteral("fake"); }

    // Answers the request sent with `tag`.
    void reply(const QString &tag, std::int16_t status, std::int16_t ms = 1)
    {
        QString address = tag.section(u':', 1).section(u';', 0, 0);
        --pending;
        Q_EMIT EchoReply(address, ms, status, tag);
    }
    void answerAll(std::int16_t status = 0)
    {
        const QList<Sent> now = std::exchange(sent, {});
        for (const Sent &s : now)
            reply(s.tag, status);
    }

private:
    int m_timeout = 2000;
    int m_ttl = 32;
    bool m_async = true;
    QString m_tag;
};
