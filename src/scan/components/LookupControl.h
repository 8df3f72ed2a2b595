#pragma once

#include <QObject>
#include <QString>

// The name-lookup control `DNS`: reverse lookups that run side by side, each answered
// exactly once through LookupAnswer (also when cancelled or destroyed). The product uses
// AresLookup; engine tests use a scripted fake of this interface.
class LookupControl : public QObject
{
    Q_OBJECT
public:
    // Outcome numbers carried in the Status parameter of LookupAnswer.
    enum Status
    {
        Found = 0,
        NoName = 1,        // NXDOMAIN or no PTR record
        NoAnswer = 2,      // time-out or refused connection: the server did not answer
        ServerFailure = 3, // SERVFAIL, REFUSED, malformed answer
        Cancelled = 4,
        BadAddress = 5,
        ResolverUnavailable = 6,
        TooManyLookups = 7, // LookupCapacity lookups already outstanding
    };

    using QObject::QObject;

    virtual QString LookupTag() const = 0;
    virtual void setLookupTag(const QString &tag) = 0;

    // Starts a reverse lookup of a dotted quad and returns at once; the answer always
    // arrives later from the event loop, never inside this call.
    virtual void StartLookup(const QString &address) = 0;

    // Started and not yet answered; the lookup being delivered still counts while its
    // LookupAnswer handler runs.
    virtual int LookupsPending() const = 0;
    virtual int LookupCapacity() const = 0;

    // Every outstanding lookup answers at once with Status Cancelled.
    virtual void CancelLookups() = 0;

Q_SIGNALS:
    // LookupResult: the host name, or a short text saying why there is none (never the bare
    // address). HostAddress: the address looked up. ElapsedMs: time the lookup took.
    void LookupAnswer(const QString &LookupResult, const QString &HostAddress, int Status,
                      const QString &Tag, int ElapsedMs);
    // Something the user should hear about once, such as a hosts file that cannot be used;
    // from the event loop, never inside StartLookup.
    void problem(const QString &message);
};
