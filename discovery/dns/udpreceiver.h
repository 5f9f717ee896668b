#pragma once

#include "discovery/dns/socket.h"
#include "discovery/threading/signal.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A datagram socket that sends one datagram to a peer and then waits, on its own thread, for
// exactly one datagram back from that peer.
class UdpReceiver
{
public:
    explicit UdpReceiver(int bufferCapacity = 1500);
    virtual ~UdpReceiver();

    UdpReceiver(const UdpReceiver&) = delete;
    UdpReceiver& operator=(const UdpReceiver&) = delete;

    // Emitted on the receive thread when a datagram waits to be taken.
    Signal<void()> datagramReceived;

    // 0 when the datagram left, -1 otherwise. Refused while an earlier send still waits for its
    // datagram; after a failed send or receive the receiver sends nothing more.
    int send(const unsigned char* data, int length, const std::string& host, uint16_t port);
    bool isBusy() const { return m_busy.load(); }
    // Moves the waiting datagram out and makes the receiver free for the next send.
    bool takeDatagram(std::vector<unsigned char>* datagram);
    // Wakes a blocked receive, ends the thread and closes the socket; safe to call twice.
    void stop();

private:
    void run();

    const int m_bufferCapacity;
    CVN::Socket m_socket;
    uint16_t m_receivedLength = 0;
    std::unique_ptr<unsigned char[]> m_buffer;
    uint16_t m_peerPort = 0;
    std::string m_peerHost = "0.0.0.0";
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_condition;
    bool m_running = true;
    std::atomic<bool> m_busy{false};
    bool m_armed = false;
    std::mutex m_stopLock;
};
