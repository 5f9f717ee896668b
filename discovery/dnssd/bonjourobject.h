#pragma once

class BonjourObjectPrivate;

// Base of the DNS-SD operation wrappers. Answers arrive on the DNS-SD core thread, never after
// the wrapper has been destroyed; destroying a wrapper stops its operation.
class BonjourObject
{
public:
    virtual ~BonjourObject();

    BonjourObject(const BonjourObject&) = delete;
    BonjourObject& operator=(const BonjourObject&) = delete;

protected:
    explicit BonjourObject(BonjourObjectPrivate* d);

    BonjourObjectPrivate* d;
};
