#pragma once

class IpAddressValidator;
class NonEmptyValidator;
class UnsignedIntValidator;

// The module's validators, shared by every line edit that checks its input. They have no
// parent and live until the process ends; line edits only refer to them.
namespace SharedValidators {
NonEmptyValidator* nonEmpty();
// The settings line edits' address rule.
IpAddressValidator* ipAddress();
// The host's add-by-address field.
IpAddressValidator* hostIpAddress();
// A user-assignable port: 1024 to 49151.
UnsignedIntValidator* port();
} // namespace SharedValidators
