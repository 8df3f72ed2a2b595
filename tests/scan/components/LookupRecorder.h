#pragma once

#include "scan/components/LookupControl.h"

#include <QList>

// Records every LookupAnswer of one lookup control, with the pending count its handler saw.
struct LookupRecorder
{
    struct Answer
    {
        QString result, address;
        int status;
        QString tag;
        int elapsedMs, pendingInHandler;
    };

    explicit LookupRecorder(LookupControl *lookup)
    {
        QObject::connect(
            lookup, &LookupControl::LookupAnswer, lookup,
            [this, lookup](const QString &result, const QString &address, int status,
                           const QString &tag, int elapsedMs) {
                answers.append({result, address, status, tag, elapsedMs, lookup->LookupsPending()});
            });
    }

    QList<Answer> answers;
};
