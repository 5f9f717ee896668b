#pragma once

#include <stdexcept>
#include <string>

// Failures of a stream transport. The RPC layer turns them into its own exceptions.
namespace VornOSRPC {

class Exception : public std::runtime_error
{
public:
    explicit Exception(const std::string& what)
        : std::runtime_error(what)
    {
    }
};

class RequestTimedOutException : public Exception
{
public:
    RequestTimedOutException()
        : Exception("Request timed out")
    {
    }
};

class IncompatiableProtocolException : public Exception
{
public:
    IncompatiableProtocolException()
        : Exception("Device protocol incompatible")
    {
    }
};

} // namespace VornOSRPC
