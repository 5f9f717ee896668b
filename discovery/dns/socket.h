#pragma once

#include <atomic>
#include <cstdint>
#include <string>

struct sockaddr_in;

namespace CVN {

// An IPv4 stream or datagram socket (or a local one) whose operations answer the class's own
// error numbers, 0 for success. A blocked receive returns when another thread closes or shuts
// down the socket; otherwise the owner serialises the calls.
class Socket
{
public:
    enum Family { Internet = 0, Local = 1 };
    enum Type { Stream = 0, Datagram = 1 };
    enum Error {
        NoError = 0,
        Untranslated = 1,
        NoSuchFile = 2,
        BadDescriptor = 3,
        OutOfMemory = 4,
        AlreadyOpen = 5,
        InvalidArgument = 6,
        NotSocket = 7,
        AddressRequired = 8,
        MessageTooLong = 9,
        WrongType = 10,
        AddressInUse = 11,
        AddressNotAvailable = 12,
        ConnectionReset = 13,
        TimedOut = 14,
        ConnectionRefused = 15,
    };

    // An internet socket gets its descriptor at once; a failure leaves it invalid.
    Socket(int family, int type);
    virtual ~Socket();

    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    virtual bool isInvalid() const;
    virtual bool isConnected() const;
    virtual int open();
    // Addresses are "host:port"; hosts are dotted quads or names looked up as IPv4.
    virtual int bind(const char* address);
    virtual int listen(int backlog);
    virtual int accept(Socket** accepted, uint32_t* peerAddress, uint16_t* peerPort);
    virtual int connect(const char* address);
    virtual int send(const char* data, int length, int* sent);
    virtual int sendTo(const char* data, int length, int* sent, const char* address);
    // Blocks for one datagram or some stream bytes; a datagram longer than size is
    // MessageTooLong and is consumed.
    virtual int receive(char* buffer, int size, int* received);
    virtual int setNoDelay(bool on);
    virtual int joinGroup(const char* groupAddress);
    virtual int leaveGroup(const char* groupAddress);
    virtual int close();
    // Not available with POSIX sockets: always InvalidArgument.
    virtual int setExclusiveAddressUse(bool on);

    // Shuts both directions down but keeps the descriptor, so that a receive blocked on
    // another thread returns before the descriptor is closed and its number reused.
    int shutdown();

    // Fills an IPv4 address from "host:port". A host that is not a dotted quad and cannot be
    // looked up, or a port that is not a number from 0 to 65535, is an error.
    int parseAddress(sockaddr_in* out, const char* address) const;
    // Maps a C library error number onto the class's numbers; others are printed and give 1.
    static int translateError(int code);

private:
    Socket(int family, int type, int descriptor);
    // The descriptor and the parsed address for bind and connect, or the error for them.
    int prepareAddress(const char* address, int* descriptor, sockaddr_in* in) const;
    // Maps the count of one send call (errno still set on failure) to a result.
    static int sendResult(long count, int* sent);
    int membership(const char* groupAddress, int option);
    int shutdownDescriptor(int descriptor);

    int m_family;
    int m_type;
    std::string m_path;
    std::atomic<int> m_descriptor{-1};
    std::atomic<bool> m_connected{false};
};

} // namespace CVN
