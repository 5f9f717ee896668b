#pragma once

#include "sim/usbbus/simpleusbdevice.h"

#include <QByteArray>
#include <QStringList>

#include <deque>
#include <map>
#include <memory>
#include <mutex>

// A small device side of the USB tunnel on the simulated bus, scripted by the test: a vendor
// device whose interface 0 (class 0xFF, subclass 5) has a bulk pipe each way, or none
// (control mode). It cuts the host's big-endian messages out of whatever arrives, logs
// them, and answers as told; its own messages go out little-endian.
class ScriptedTunnelDevice
{
public:
    enum class OpenAnswer { Accept, Refuse, Silent };
    static constexpr uint16_t kRefusal = 0x6F;

    explicit ScriptedTunnelDevice(bool bulk);
    ~ScriptedTunnelDevice();
    ScriptedTunnelDevice(const ScriptedTunnelDevice&) = delete;
    ScriptedTunnelDevice& operator=(const ScriptedTunnelDevice&) = delete;

    const Sim::SimpleUsbDevice& model() const;
    void unplug();

    // Knobs; set before the host acts.
    void setOpenAnswer(OpenAnswer answer);
    void setAnswerCloses(bool answer);
    // Tokens granted with each accepted open, and whether received payload is granted back.
    void setGrants(uint64_t onOpen, bool giveBack);
    // The host's writes stall from now on.
    void setWritesFail(bool fail);

    // The host's messages so far, one line each ("open 1 80", "tokens 1 4096",
    // "transfer 1 300", "transfer+tokens 1 300 4", "close 1", "open-test 1 9 2 3").
    QStringList hostMessages() const;
    QByteArray received(uint16_t id) const;
    uint64_t creditFromHost(uint16_t id) const;

    // The device's messages, sent as they are (no credit check).
    void sendRaw(const QByteArray& bytes);
    static QByteArray opened(uint16_t id);
    static QByteArray tokens(uint16_t id, uint64_t count);
    static QByteArray transfer(uint16_t id, const QByteArray& payload);
    static QByteArray transferTokens(uint16_t id, uint64_t count, const QByteArray& payload);
    static QByteArray closed(uint16_t id, uint16_t error);
    // Payload sent in pieces of at most piece bytes, each as the host's credit allows.
    void stream(uint16_t id, const QByteArray& payload, int piece);

private:
    void fromHost(const QByteArray& bytes);
    void cutLocked(QByteArray* replies);
    void message(uint16_t type, uint16_t id, const QByteArray& fixed, const QByteArray& payload,
                 QByteArray* replies);
    void flushLocked(uint16_t id, QByteArray* out);
    void answerPoll(uint16_t length, std::vector<uint8_t>* in);
    class Model;
    void bulkIn(const Sim::TransferPtr& read);
    void feed();
    void endReads();

    std::shared_ptr<Model> m_model;
    const bool m_bulk;
    mutable std::mutex m_mutex;
    OpenAnswer m_openAnswer = OpenAnswer::Accept;
    bool m_answerCloses = true;
    uint64_t m_grantOnOpen = 4096;
    bool m_giveBack = true;
    bool m_writesFail = false;
    QByteArray m_fromHost;
    QStringList m_log;
    std::map<uint16_t, QByteArray> m_received;
    std::map<uint16_t, uint64_t> m_ungranted;
    std::map<uint16_t, uint64_t> m_credit;
    std::map<uint16_t, QByteArray> m_outbox;
    std::map<uint16_t, int> m_piece;
    QByteArray m_toHost; // what the IN reads or the control polls hand out
    std::deque<Sim::TransferPtr> m_reads;
};
