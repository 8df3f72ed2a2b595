#pragma once

#include "scan/components/LookupControl.h"

#include <QList>

// A lookup control whose answers come when the test says; the answer being delivered still
// counts as pending while its handler runs.
class FakeLookup : public LookupControl
{
    Q_OBJECT
public:
    struct Started
    {
        QString address;
        QString tag;
    };

    QList<Started> started;
    int capacity = 1000;
    int pending = 0;

    QString LookupTag() const override { return m_tag; }
    void setLookupTag(const QString &tag) override { m_tag = tag; }
    void StartLookup(const QString &address) override
    {
        started.append({address, m_tag});
        ++pending;
    }
    int LookupsPending() const override { return pending; }
    int LookupCapacity() const override { return capacity; }
    void CancelLookups() override {}

    void answer(qsizetype index, const QString &name)
    {
        const Started s = started.takeAt(index);
        Q_EMIT LookupAnswer(name, s.address, 0, s.tag, 1);
        --pending;
    }
    void answerAll()
    {
        while (!started.isEmpty())
            answer(0, QStringLiteral("name-of-") + started.first().address);
    }

private:
    QString m_tag;
};
