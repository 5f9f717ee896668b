#pragma once

#include <stdexcept>
#include <string>

// Failures of RPC requests, whatever transport carried them.
namespace VornOSRPC {

class RpcException : public std::runtime_error
{
public:
    explicit RpcException(const std::string& what)
        : std::runtime_error(what)
    {
    }
};

class RpcRequestTimedOutException : public RpcException
{
public:
    RpcRequestTimedOutException()
        : RpcException("Request timed out")
    {
    }
};

class RpcRequestIncompatibleException : public RpcException
{
public:
    RpcRequestIncompatibleException()
        : RpcException("Protocol version incompatible")
    {
    }
};

} // namespace VornOSRPC
