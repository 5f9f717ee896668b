#include "discovery/dns/socket.h"

#include "discovery/threading/once.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace CVN {

namespace {

// POSIX sockets need no start-up; the hook stays so that a platform that does has one place.
void startSockets() {}

Core::Once& socketStartup()
{
    static Core::Once once(&startSockets);
    return once;
}

bool isDottedQuadLike(const std::string& host)
{
    return !host.empty() && host.find_first_not_of("0123456789.") == std::string::npos;
}

// Four decimal parts of up to three digits, each at most 255. A leading zero is only padding
// ("192.168.001.020" is 192.168.1.20), never the octal that inet_aton would read.
bool parseDottedQuad(const std::string& host, in_addr* out)
{
    uint32_t address = 0;
    size_t at = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (at >= host.size() || host[at] != '.')
                return false;
            ++at;
        }
        unsigned value = 0;
        size_t digits = 0;
        for (; at < host.size() && host[at] >= '0' && host[at] <= '9'; ++at, ++digits)
            value = value * 10 + unsigned(host[at] - '0');
        if (digits == 0 || digits > 3 || value > 255)
            return false;
        address = address << 8 | value;
    }
    if (at != host.size())
        return false;
    out->s_addr = htonl(address);
    return true;
}

bool parsePort(const char* text, uint16_t* port)
{
    if (*text < '0' || *text > '9')
        return false;
    unsigned long value = 0;
    for (; *text; ++text) {
        if (*text < '0' || *text > '9')
            return false;
        value = value * 10 + unsigned(*text - '0');
        if (value > 65535)
            return false;
    }
    *port = uint16_t(value);
    return true;
}

} // namespace

Socket::Socket(int family, int type)
    : m_family(family)
    , m_type(type)
{
    if (m_family == Local)
        return;
    socketStartup().run();
    open();
}

Socket::Socket(int family, int type, int descriptor)
    : m_family(family)
    , m_type(type)
    , m_descriptor(descriptor)
    , m_connected(true)
{
    socketStartup().run();
}

Socket::~Socket()
{
    if (m_descriptor.load() >= 0)
        close();
    // A failed shutdown leaves the descriptor open; the object is going, so release it anyway.
    const int descriptor = m_descriptor.exchange(-1);
    if (descriptor >= 0)
        ::close(descriptor);
}

bool Socket::isInvalid() const
{
    return m_descriptor.load() < 0;
}

bool Socket::isConnected() const
{
    return m_descriptor.load() >= 0 && m_connected.load();
}

int Socket::open()
{
    if (m_descriptor.load() >= 0)
        return AlreadyOpen;
    const int descriptor =
        ::socket(m_family == Local ? AF_UNIX : AF_INET,
                 (m_type == Datagram ? SOCK_DGRAM : SOCK_STREAM) | SOCK_CLOEXEC, 0);
    if (descriptor < 0)
        return translateError(errno);
    m_descriptor.store(descriptor);
    return NoError;
}

int Socket::prepareAddress(const char* address, int* descriptor, sockaddr_in* in) const
{
    *descriptor = m_descriptor.load();
    if (*descriptor < 0)
        return NotSocket;
    if (!address)
        return AddressRequired;
    if (m_family == Local)
        return InvalidArgument;
    return parseAddress(in, address);
}

int Socket::bind(const char* address)
{
    int descriptor;
    sockaddr_in in;
    if (const int result = prepareAddress(address, &descriptor, &in))
        return result;
    int rc = ::bind(descriptor, reinterpret_cast<const sockaddr*>(&in), sizeof in);
    if (rc < 0 && errno == EADDRINUSE) {
        const int on = 1;
        ::setsockopt(descriptor, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        rc = ::bind(descriptor, reinterpret_cast<const sockaddr*>(&in), sizeof in);
    }
    if (rc < 0)
        return translateError(errno);
    m_connected.store(true);
    return NoError;
}

int Socket::listen(int backlog)
{
    const int descriptor = m_descriptor.load();
    if (descriptor < 0)
        return NotSocket;
    return ::listen(descriptor, backlog) < 0 ? translateError(errno) : NoError;
}

int Socket::accept(Socket** accepted, uint32_t* peerAddress, uint16_t* peerPort)
{
    const int descriptor = m_descriptor.load();
    if (descriptor < 0)
        return NotSocket;
    if (m_family != Internet || m_type != Stream)
        return WrongType;
    sockaddr_in peer;
    socklen_t peerLength = sizeof peer;
    int client;
    do {
        client =
            ::accept4(descriptor, reinterpret_cast<sockaddr*>(&peer), &peerLength, SOCK_CLOEXEC);
    } while (client < 0 && errno == EINTR);
    if (client < 0)
        return translateError(errno);
    if (peerLength == sizeof peer) {
        if (peerAddress)
            *peerAddress = ntohl(peer.sin_addr.s_addr);
        if (peerPort)
            *peerPort = ntohs(peer.sin_port);
    }
    if (accepted)
        *accepted = new Socket(m_family, m_type, client);
    else
        ::close(client);
    return NoError;
}

int Socket::connect(const char* address)
{
    int descriptor;
    sockaddr_in in;
    if (const int result = prepareAddress(address, &descriptor, &in))
        return result;
    if (::connect(descriptor, reinterpret_cast<const sockaddr*>(&in), sizeof in) < 0) {
        const int error = errno;
        if (error == ECONNREFUSED)
            m_connected.store(false);
        return translateError(error);
    }
    m_connected.store(true);
    return NoError;
}

int Socket::send(const char* data, int length, int* sent)
{
    if (sent)
        *sent = 0;
    const int descriptor = m_descriptor.load();
    if (descriptor < 0)
        return NotSocket;
    if (length < 0 || (!data && length > 0))
        return InvalidArgument;
    ssize_t count;
    do {
        count = ::send(descriptor, data, size_t(length), MSG_NOSIGNAL);
    } while (count < 0 && errno == EINTR);
    return sendResult(count, sent);
}

int Socket::sendTo(const char* data, int length, int* sent, const char* address)
{
    if (sent)
        *sent = 0;
    const int descriptor = m_descriptor.load();
    if (descriptor < 0)
        return NotSocket;
    if (m_type != Datagram)
        return WrongType;
    if (!address)
        return AddressRequired;
    if (length < 0 || (!data && length > 0))
        return InvalidArgument;
    sockaddr_in in;
    if (const int result = parseAddress(&in, address))
        return result;
    ssize_t count;
    do {
        count = ::sendto(descriptor, data, size_t(length), MSG_NOSIGNAL,
                         reinterpret_cast<const sockaddr*>(&in), sizeof in);
    } while (count < 0 && errno == EINTR);
    return sendResult(count, sent);
}

int Socket::sendResult(long count, int* sent)
{
    if (count > 0) {
        if (sent)
            *sent = int(count);
        return NoError;
    }
    if (count == 0 || errno == ECONNRESET || errno == EPIPE)
        return ConnectionReset;
    return translateError(errno);
}

int Socket::receive(char* buffer, int size, int* received)
{
    if (received)
        *received = 0;
    const int descriptor = m_descriptor.load();
    if (descriptor < 0)
        return NotSocket;
    if (size <= 0 || !buffer)
        return InvalidArgument;
    // recv cuts an over-long datagram silently; MSG_TRUNC makes it tell the real length.
    const int flags = m_type == Datagram ? MSG_TRUNC : 0;
    ssize_t count;
    do {
        count = ::recv(descriptor, buffer, size_t(size), flags);
    } while (count < 0 && errno == EINTR);
    if (count > size)
        return MessageTooLong;
    if (count > 0) {
        if (received)
            *received = int(count);
        return NoError;
    }
    if (count == 0 || errno == ECONNRESET || errno == EBADF)
        return ConnectionReset;
    return translateError(errno);
}

int Socket::setNoDelay(bool on)
{
    const int descriptor = m_descriptor.load();
    if (descriptor < 0)
        return NotSocket;
    if (m_type != Stream)
        return WrongType;
    const int value = on ? 1 : 0;
    if (::setsockopt(descriptor, IPPROTO_TCP, TCP_NODELAY, &value, sizeof value) < 0)
        return translateError(errno);
    return NoError;
}

int Socket::joinGroup(const char* groupAddress)
{
    return membership(groupAddress, IP_ADD_MEMBERSHIP);
}

int Socket::leaveGroup(const char* groupAddress)
{
    return membership(groupAddress, IP_DROP_MEMBERSHIP);
}

int Socket::membership(const char* groupAddress, int option)
{
    const int descriptor = m_descriptor.load();
    if (descriptor < 0)
        return NotSocket;
    if (m_type != Datagram)
        return WrongType;
    if (!groupAddress)
        return AddressRequired;
    ip_mreq request;
    std::memset(&request, 0, sizeof request);
    if (::inet_pton(AF_INET, groupAddress, &request.imr_multiaddr) != 1)
        return InvalidArgument;
    request.imr_interface.s_addr = htonl(INADDR_ANY);
    if (::setsockopt(descriptor, IPPROTO_IP, option, &request, sizeof request) < 0)
        return translateError(errno);
    return NoError;
}

int Socket::shutdownDescriptor(int descriptor)
{
    // An unconnected datagram socket reports "not connected" yet still wakes its receivers.
    if (::shutdown(descriptor, SHUT_RDWR) < 0 && errno != ENOTCONN)
        return translateError(errno);
    return NoError;
}

int Socket::shutdown()
{
    const int descriptor = m_descriptor.load();
    if (descriptor < 0)
        return NotSocket;
    return shutdownDescriptor(descriptor);
}

int Socket::close()
{
    const int descriptor = m_descriptor.load();
    if (descriptor < 0)
        return NoError;
    // Shut down first: closing alone does not wake a receive blocked on another thread.
    if (const int result = shutdownDescriptor(descriptor))
        return result;
    m_connected.store(false);
    // The descriptor is gone after close even when it reports an error; never close it twice.
    m_descriptor.store(-1);
    if (::close(descriptor) < 0 && errno != EINTR)
        return translateError(errno);
    if (!m_path.empty()) {
        if (::unlink(m_path.c_str()) < 0)
            return translateError(errno);
        m_path.clear();
    }
    return NoError;
}

int Socket::setExclusiveAddressUse(bool)
{
    return InvalidArgument;
}

int Socket::parseAddress(sockaddr_in* out, const char* address) const
{
    if (m_family == Local)
        return WrongType;
    std::memset(out, 0, sizeof *out);
    out->sin_family = AF_INET;
    if (!address)
        return InvalidArgument;
    const char* colon = std::strchr(address, ':');
    if (!colon)
        return InvalidArgument;
    uint16_t port = 0;
    if (!parsePort(colon + 1, &port))
        return InvalidArgument;
    out->sin_port = htons(port);

    const std::string host(address, colon);
    if (isDottedQuadLike(host)) {
        // Strictly four decimal parts: "1.2.3" or "300.1.1.1" are mistakes, not addresses.
        return parseDottedQuad(host, &out->sin_addr) ? NoError : InvalidArgument;
    }
    addrinfo hints;
    std::memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_INET;
    hints.ai_socktype = m_type == Datagram ? SOCK_DGRAM : SOCK_STREAM;
    addrinfo* found = nullptr;
    const int rc = host.empty() ? EAI_NONAME : ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (rc != 0 || !found) {
        if (found)
            ::freeaddrinfo(found);
        return rc == EAI_MEMORY ? OutOfMemory : AddressNotAvailable;
    }
    out->sin_addr = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
    ::freeaddrinfo(found);
    return NoError;
}

int Socket::translateError(int code)
{
    switch (code) {
    case 0:
        return NoError;
    case ENOENT:
        return NoSuchFile;
    case EBADF:
        return BadDescriptor;
    case ENOMEM:
    case ENOBUFS:
        return OutOfMemory;
    case EEXIST:
        return AlreadyOpen;
    case EINVAL:
        return InvalidArgument;
    case ENOTSOCK:
        return NotSocket;
    case EDESTADDRREQ:
        return AddressRequired;
    case EMSGSIZE:
        return MessageTooLong;
    case EPROTOTYPE:
        return WrongType;
    case EADDRINUSE:
        return AddressInUse;
    case EADDRNOTAVAIL:
        return AddressNotAvailable;
    case ECONNRESET:
        return ConnectionReset;
    case ETIMEDOUT:
        return TimedOut;
    case ECONNREFUSED:
        return ConnectionRefused;
    default:
        std::fprintf(stderr, "No error code translation for %d (%s)\n", code, std::strerror(code));
        return Untranslated;
    }
}

} // namespace CVN
