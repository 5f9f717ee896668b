#include "discovery/dns/udpreceiver.h"

UdpReceiver::UdpReceiver(int bufferCapacity)
    : m_bufferCapacity(bufferCapacity)
    , m_socket(CVN::Socket::Internet, CVN::Socket::Datagram)
    , m_buffer(new unsigned char[size_t(bufferCapacity)])
{
    m_thread = std::thread(&UdpReceiver::run, this);
}

UdpReceiver::~UdpReceiver()
{
    stop();
}

void UdpReceiver::stop()
{
    std::lock_guard<std::mutex> stopping(m_stopLock);
    // Not under the mutex: the receive thread holds it while it blocks. Shutting down wakes
    // it; the descriptor is closed only after the thread has ended, so its number cannot be
    // reused under a receive that is just starting.
    if (!m_socket.isInvalid())
        m_socket.shutdown();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_running = false;
    }
    m_condition.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    m_socket.close();
}

int UdpReceiver::send(const unsigned char* data, int length, const std::string& host, uint16_t port)
{
    if (m_busy.exchange(true))
        return -1;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_running)
            return -1;
        m_peerPort = port;
        m_peerHost = host;
        const std::string address = host + ":" + std::to_string(port);
        // A connected datagram socket only hears from that peer.
        int sent = 0;
        if (m_socket.connect(address.c_str()) != CVN::Socket::NoError ||
            m_socket.send(reinterpret_cast<const char*>(data), length, &sent) !=
                CVN::Socket::NoError ||
            sent != length)
            return -1;
        m_armed = true;
    }
    m_condition.notify_all();
    return 0;
}

bool UdpReceiver::takeDatagram(std::vector<unsigned char>* datagram)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_receivedLength == 0)
        return false;
    datagram->assign(m_buffer.get(), m_buffer.get() + m_receivedLength);
    m_receivedLength = 0;
    m_busy.store(false);
    return true;
}

void UdpReceiver::run()
{
    for (;;) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_condition.wait(lock, [this] { return m_armed || !m_running; });
        if (!m_running)
            return;
        // One send arms the receiver for one datagram; a failed receive leaves it disarmed
        // and the query to its time-out.
        m_armed = false;
        int received = 0;
        m_socket.receive(reinterpret_cast<char*>(m_buffer.get()), m_bufferCapacity - 1, &received);
        m_receivedLength = uint16_t(received);
        lock.unlock();
        if (received > 0)
            datagramReceived.emit();
    }
}
