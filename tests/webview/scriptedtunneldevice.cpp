#include "scriptedtunneldevice.h"

#include "sim/usbbus/configurationbuilder.h"
#include "sim/usbbus/usbbus.h"
#include "sim/usbbus/usbdstatus.h"

#include <QtEndian>

#include <algorithm>

namespace {

constexpr uint8_t kOut = 0x01;
constexpr uint8_t kIn = 0x81;
constexpr int kPoll = 1024;

QByteArray le16(uint16_t v)
{
    QByteArray out(2, '\0');
    qToLittleEndian(v, out.data());
    return out;
}
QByteArray le64(uint64_t v)
{
    QByteArray out(8, '\0');
    qToLittleEndian(v, out.data());
    return out;
}
uint16_t be16(const QByteArray& b, int at)
{
    return qFromBigEndian<uint16_t>(b.constData() + at);
}
uint64_t be64(const QByteArray& b, int at)
{
    return qFromBigEndian<uint64_t>(b.constData() + at);
}

} // namespace

// Bulk IN reads wait in the fixture, so a reset of the IN pipe can end them as cancelled, as
// an abort does.
class ScriptedTunnelDevice::Model : public Sim::SimpleUsbDevice
{
public:
    Model(ScriptedTunnelDevice* owner, Sim::DeviceIdentity identity,
          std::vector<uint8_t> configuration)
        : SimpleUsbDevice(identity, std::move(configuration))
        , m_owner(owner)
    {
    }
    void bulk(const Sim::TransferPtr& transfer) override
    {
        if (transfer->kind() == Sim::Transfer::BulkIn)
            m_owner->bulkIn(transfer);
        else
            SimpleUsbDevice::bulk(transfer);
    }
    void resetPipe(uint8_t endpoint) override
    {
        if (endpoint == kIn)
            m_owner->endReads();
    }
    void detached() override
    {
        m_owner->endReads();
        SimpleUsbDevice::detached();
    }

private:
    ScriptedTunnelDevice* m_owner;
};

ScriptedTunnelDevice::ScriptedTunnelDevice(bool bulk)
    : m_bulk(bulk)
{
    Sim::DeviceIdentity identity;
    identity.vendorId = 0x2C4A;
    identity.productId = 0xC360;
    Sim::ConfigurationBuilder configuration;
    configuration.interface(0, 0, 0xFF, 5, 0);
    if (bulk)
        configuration.bulkOut(kOut).bulkIn(kIn);
    m_model = std::make_shared<Model>(this, identity, configuration.build());

    const auto ok = [](const Sim::ControlSetup&, const std::vector<uint8_t>&,
                       std::vector<uint8_t>*) { return Sim::Usbd::kSuccess; };
    m_model->onControl(0x21, 1, ok); // reset
    m_model->onControl(0x21, 3, ok); // protocol version
    m_model->onControl(
        0x21, 4,
        [this](const Sim::ControlSetup&, const std::vector<uint8_t>& out, std::vector<uint8_t>*) {
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                if (m_writesFail)
                    return Sim::Usbd::kStall;
            }
            fromHost(QByteArray(reinterpret_cast<const char*>(out.data()), int(out.size())));
            return Sim::Usbd::kSuccess;
        });
    m_model->onControl(0xA1, 5,
                       [this](const Sim::ControlSetup& setup, const std::vector<uint8_t>&,
                              std::vector<uint8_t>* in) {
                           answerPoll(setup.length, in);
                           return Sim::Usbd::kSuccess;
                       });
    m_model->onBulkOut(kOut, [this](const std::vector<uint8_t>& data) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_writesFail)
                return Sim::Usbd::kStall;
        }
        fromHost(QByteArray(reinterpret_cast<const char*>(data.data()), int(data.size())));
        return Sim::Usbd::kSuccess;
    });
    Sim::UsbBus::instance().plug(m_model);
}

ScriptedTunnelDevice::~ScriptedTunnelDevice()
{
    Sim::UsbBus::instance().reset();
}

const Sim::SimpleUsbDevice& ScriptedTunnelDevice::model() const
{
    return *m_model;
}

void ScriptedTunnelDevice::bulkIn(const Sim::TransferPtr& read)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_reads.push_back(read);
    }
    feed();
}

// Hands what is waiting for the host to the waiting reads, outside the lock.
void ScriptedTunnelDevice::feed()
{
    for (;;) {
        Sim::TransferPtr read;
        std::vector<uint8_t> data;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            while (!m_reads.empty() && m_reads.front()->isCancelled())
                m_reads.pop_front();
            if (m_reads.empty() || m_toHost.isEmpty())
                return;
            read = m_reads.front();
            m_reads.pop_front();
            const int n = std::min<int>(int(read->inLength()), int(m_toHost.size()));
            data.assign(m_toHost.constData(), m_toHost.constData() + n);
            m_toHost.remove(0, n);
        }
        read->complete(Sim::Usbd::kSuccess, data);
    }
}

void ScriptedTunnelDevice::endReads()
{
    std::deque<Sim::TransferPtr> reads;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        reads.swap(m_reads);
    }
    for (const Sim::TransferPtr& read : reads)
        read->complete(Sim::Usbd::kCanceled);
}

void ScriptedTunnelDevice::unplug()
{
    Sim::UsbBus::instance().unplug(m_model->id());
}

void ScriptedTunnelDevice::setOpenAnswer(OpenAnswer answer)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_openAnswer = answer;
}

void ScriptedTunnelDevice::setAnswerCloses(bool answer)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_answerCloses = answer;
}

void ScriptedTunnelDevice::setGrants(uint64_t onOpen, bool giveBack)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_grantOnOpen = onOpen;
    m_giveBack = giveBack;
}

void ScriptedTunnelDevice::setWritesFail(bool fail)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_writesFail = fail;
}

QStringList ScriptedTunnelDevice::hostMessages() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_log;
}

QByteArray ScriptedTunnelDevice::received(uint16_t id) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_received.find(id);
    return it == m_received.end() ? QByteArray() : it->second;
}

uint64_t ScriptedTunnelDevice::creditFromHost(uint16_t id) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_credit.find(id);
    return it == m_credit.end() ? 0 : it->second;
}

QByteArray ScriptedTunnelDevice::opened(uint16_t id)
{
    return le16(2) + le16(id);
}
QByteArray ScriptedTunnelDevice::tokens(uint16_t id, uint64_t count)
{
    return le16(3) + le16(id) + le64(count);
}
QByteArray ScriptedTunnelDevice::transfer(uint16_t id, const QByteArray& payload)
{
    return le16(4) + le16(id) + le64(uint64_t(payload.size())) + payload;
}
QByteArray ScriptedTunnelDevice::transferTokens(uint16_t id, uint64_t count,
                                                const QByteArray& payload)
{
    return le16(7) + le16(id) + le64(uint64_t(payload.size())) + le64(count) + payload;
}
QByteArray ScriptedTunnelDevice::closed(uint16_t id, uint16_t error)
{
    return le16(6) + le16(id) + le16(error);
}

void ScriptedTunnelDevice::sendRaw(const QByteArray& bytes)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_toHost += bytes;
    }
    if (m_bulk)
        feed();
}

void ScriptedTunnelDevice::stream(uint16_t id, const QByteArray& payload, int piece)
{
    QByteArray out;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_outbox[id] += payload;
        m_piece[id] = piece;
        flushLocked(id, &out);
    }
    sendRaw(out);
}

void ScriptedTunnelDevice::flushLocked(uint16_t id, QByteArray* out)
{
    QByteArray& box = m_outbox[id];
    uint64_t& credit = m_credit[id];
    while (!box.isEmpty() && credit > 0) {
        const int n =
            int(std::min<uint64_t>({credit, uint64_t(box.size()), uint64_t(m_piece[id])}));
        *out += transfer(id, box.left(n));
        box.remove(0, n);
        credit -= uint64_t(n);
    }
}

// The answer fills the whole request, as the USB layer expects; the length word says how
// much of it is data.
void ScriptedTunnelDevice::answerPoll(uint16_t length, std::vector<uint8_t>* in)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const int n = std::min<int>({kPoll, int(m_toHost.size()), std::max(0, length - 2)});
    in->assign(std::max<size_t>(length, 2), 0);
    qToBigEndian(uint16_t(n), in->data());
    std::copy_n(m_toHost.constData(), n, in->data() + 2);
    m_toHost.remove(0, n);
}

// Cuts whole messages off the host's stream; a message may come in several writes.
void ScriptedTunnelDevice::fromHost(const QByteArray& bytes)
{
    QByteArray replies;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_fromHost += bytes;
        cutLocked(&replies);
    }
    // Sent without the lock: a waiting bulk read completes from here.
    sendRaw(replies);
}

void ScriptedTunnelDevice::cutLocked(QByteArray* replies)
{
    for (;;) {
        if (m_fromHost.size() < 4)
            return;
        const uint16_t type = be16(m_fromHost, 0);
        const uint16_t id = be16(m_fromHost, 2);
        int fixed = 0;
        switch (type) {
        case 1:
            if (m_fromHost.size() < 6)
                return;
            fixed = be16(m_fromHost, 4) == 1 ? 8 : 23;
            break;
        case 3:
        case 4:
            fixed = 12;
            break;
        case 5:
            fixed = 4;
            break;
        case 7:
            fixed = 20;
            break;
        default:
            m_log << QStringLiteral("bad type %1").arg(type);
            m_fromHost.clear();
            return;
        }
        if (m_fromHost.size() < fixed)
            return;
        const uint64_t length = type == 4 || type == 7 ? be64(m_fromHost, 4) : 0;
        if (uint64_t(m_fromHost.size()) < uint64_t(fixed) + length)
            return;
        const QByteArray head = m_fromHost.left(fixed);
        const QByteArray payload = m_fromHost.mid(fixed, int(length));
        m_fromHost.remove(0, fixed + int(length));
        message(type, id, head, payload, replies);
    }
}

// Under the lock: logs one host message and answers it.
void ScriptedTunnelDevice::message(uint16_t type, uint16_t id, const QByteArray& head,
                                   const QByteArray& payload, QByteArray* replies)
{
    QByteArray& reply = *replies;
    switch (type) {
    case 1:
        if (be16(head, 4) == 1)
            m_log << QStringLiteral("open %1 %2").arg(id).arg(be16(head, 6));
        else
            m_log << QStringLiteral("open-test %1 %2 %3 %4")
                         .arg(id)
                         .arg(uint8_t(head[6]))
                         .arg(be64(head, 7))
                         .arg(be64(head, 15));
        if (m_openAnswer == OpenAnswer::Accept) {
            reply += opened(id);
            if (m_grantOnOpen)
                reply += tokens(id, m_grantOnOpen);
        } else if (m_openAnswer == OpenAnswer::Refuse) {
            reply += closed(id, kRefusal);
        }
        break;
    case 3:
        m_log << QStringLiteral("tokens %1 %2").arg(id).arg(be64(head, 4));
        m_credit[id] += be64(head, 4) * 1024;
        flushLocked(id, &reply);
        break;
    case 4:
    case 7:
        if (type == 4) {
            m_log << QStringLiteral("transfer %1 %2").arg(id).arg(payload.size());
        } else {
            m_log << QStringLiteral("transfer+tokens %1 %2 %3")
                         .arg(id)
                         .arg(payload.size())
                         .arg(be64(head, 12));
            m_credit[id] += be64(head, 12) * 1024;
            flushLocked(id, &reply);
        }
        m_received[id] += payload;
        if (m_giveBack) {
            uint64_t& ungranted = m_ungranted[id];
            ungranted += uint64_t(payload.size());
            if (ungranted >= 1024)
                reply += tokens(id, ungranted / 1024);
            ungranted %= 1024;
        }
        break;
    case 5:
        m_log << QStringLiteral("close %1").arg(id);
        if (m_answerCloses)
            reply += closed(id, 0);
        break;
    }
}
