#include "framework/sharedvalidators.h"

#include "framework/ipaddressvalidator.h"
#include "framework/nonemptyvalidator.h"
#include "framework/unsignedintvalidator.h"

namespace SharedValidators {

NonEmptyValidator* nonEmpty()
{
    static auto* validator = new NonEmptyValidator;
    return validator;
}

IpAddressValidator* ipAddress()
{
    static auto* validator = new IpAddressValidator;
    return validator;
}

IpAddressValidator* hostIpAddress()
{
    static auto* validator = new IpAddressValidator;
    return validator;
}

UnsignedIntValidator* port()
{
    static auto* validator = new UnsignedIntValidator(1024, 49151);
    return validator;
}

} // namespace SharedValidators
