#pragma once

#include "scan/components/NeighbourControl.h"

#include <QList>

// A neighbour table whose answers come when the test says.
class FakeNeighbours : public NeighbourControl
{
    Q_OBJECT
public:
    struct Asked
    {
        std::uint32_t address;
        std::int64_t sinceNs;
        std::int64_t tag;
    };
    QList<Asked> asked;

    void lookup(std::uint32_t address, std::int64_t sinceNs, std::int64_t tag) override
    {
        asked.append({address, sinceNs, tag});
    }
    int pending() const override { return int(asked.size()); }
    void cancelAll() override { asked.clear(); }

    // Answers the oldest question: `hardware` empty for none; confirmed when the entry is
    // newer than `confirmedAt` says (none: a static entry).
    void answer(const QString &hardware, std::int64_t confirmedAtNs = 0, bool verifying = false)
    {
        const Asked a = asked.takeFirst();
        NeighbourAnswer out;
        out.address = a.address;
        out.hardware = HardwareAddress::fromText(hardware);
        out.confirmedSince = out.hardware && confirmedAtNs >= a.sinceNs;
        out.verifying = verifying;
        Q_EMIT answered(out, a.tag);
    }
};
