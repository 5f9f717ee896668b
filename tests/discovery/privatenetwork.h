#pragma once

#include "tests/common/skipunlesspossible.h"

#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

// Multicast DNS tests run in a network namespace of their own, where loopback is the only
// interface and is made multicast-capable: nothing they send leaves the machine. Call enter()
// first thing in main, while the process has one thread: threads started later inherit the
// namespace.
namespace PrivateNetwork {

inline std::string& failure()
{
    static std::string reason = "not entered";
    return reason;
}

inline void enter()
{
    // Without root, a user namespace of our own grants the right to a network namespace.
    if (::unshare(CLONE_NEWNET) != 0 && ::unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) {
        failure() = std::string("no network namespace of our own (needs root or user "
                                "namespaces): ") +
                    std::strerror(errno);
        return;
    }
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    const bool up = fd >= 0 && ::ioctl(fd, SIOCGIFFLAGS, &request) == 0 &&
                    ((request.ifr_flags |= IFF_UP | IFF_MULTICAST), true) &&
                    ::ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    const int error = errno;
    if (fd >= 0)
        ::close(fd);
    failure() =
        up ? std::string() : std::string("loopback not brought up: ") + std::strerror(error);
}

// Empty when the tests may multicast.
inline const std::string& unavailable()
{
    return failure();
}

} // namespace PrivateNetwork

#define SKIP_WITHOUT_PRIVATE_NETWORK()                                                             \
    do {                                                                                           \
        if (!PrivateNetwork::unavailable().empty())                                                \
            SKIP_OR_FAIL_IN_CI("no private network: " + PrivateNetwork::unavailable());            \
    } while (false)

// A test main that enters the private network before Qt starts any thread, then runs the
// test under an application of the given class (QApplication for tests with widgets).
#define PRIVATE_NETWORK_TEST_MAIN_WITH(ApplicationClass, TestClass)                                \
    int main(int argc, char** argv)                                                                \
    {                                                                                              \
        PrivateNetwork::enter();                                                                   \
        ApplicationClass app(argc, argv);                                                          \
        TestClass test;                                                                            \
        return QTest::qExec(&test, argc, argv);                                                    \
    }
#define PRIVATE_NETWORK_TEST_MAIN(TestClass)                                                       \
    PRIVATE_NETWORK_TEST_MAIN_WITH(QCoreApplication, TestClass)
