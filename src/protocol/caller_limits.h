#pragma once

#include <QByteArrayView>

// The per-address limits as the sessions meet them, by the caller's address
// as its slot records it. With the limits off every question says yes and
// nothing is kept. The registry supplies it; sessions decide what a "no"
// does on the wire.
class CallerLimits {
public:
    // Server and operator logins from the address are refused unheard.
    virtual bool loginLockedOut(QByteArrayView ip) = 0;
    // A login answered as wrong or unknown, or operator codes refused.
    virtual void loginFailed(QByteArrayView ip) = 0;
    virtual bool operatorLoginAllowed(QByteArrayView ip) const = 0;
    // Whether the address may create one more account now.
    virtual bool registrationAllowed(QByteArrayView ip) = 0;
    virtual void accountCreated(QByteArrayView ip) = 0;
    // Counts one list query; false when it is over the address's rate.
    virtual bool takeListQuery(QByteArrayView ip) = 0;

protected:
    ~CallerLimits() = default;
};
