#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Writes DNS messages byte by byte, so tests can craft well-formed and broken replies alike.
class DnsMessageBuilder
{
public:
    std::vector<unsigned char> bytes;

    size_t size() const { return bytes.size(); }

    DnsMessageBuilder& u8(unsigned value)
    {
        bytes.push_back(uint8_t(value));
        return *this;
    }
    DnsMessageBuilder& u16(unsigned value) { return u8(value >> 8).u8(value); }
    DnsMessageBuilder& u32(uint32_t value) { return u16(value >> 16).u16(value & 0xFFFF); }
    DnsMessageBuilder& raw(const std::string& text)
    {
        bytes.insert(bytes.end(), text.begin(), text.end());
        return *this;
    }
    DnsMessageBuilder& header(unsigned id, unsigned questions, unsigned answers,
                              unsigned authorities, unsigned additionals)
    {
        return u16(id).u16(0x8400).u16(questions).u16(answers).u16(authorities).u16(additionals);
    }
    // Labels only; finish with end() or pointer().
    DnsMessageBuilder& labels(const std::vector<std::string>& parts)
    {
        for (const std::string& part : parts)
            u8(unsigned(part.size())).raw(part);
        return *this;
    }
    DnsMessageBuilder& end() { return u8(0); }
    DnsMessageBuilder& pointer(unsigned offset) { return u8(0xC0 | (offset >> 8)).u8(offset); }
    DnsMessageBuilder& recordHeader(unsigned type, unsigned dataLength)
    {
        return u16(type).u16(1).u32(120).u16(dataLength);
    }
    // Patches a length field written earlier as a placeholder.
    void patchU16(size_t at, unsigned value)
    {
        bytes[at] = uint8_t(value >> 8);
        bytes[at + 1] = uint8_t(value);
    }
};

// The usual reply to a PTR query for _corvane._tcp.local: question at 12, answer and records
// compressed against it. Parts are switched off or broken by the tests that need it.
struct ReplyShape
{
    unsigned id = 0x4567;
    std::string instance = "Studio Deck";
    bool withSrv = true;
    bool withTxt = true;
    bool withA = true;
    bool withAaaaAndNsec = false;
    uint16_t port = 8080;
    std::string target = "deck";
    std::vector<std::string> txt = {"model=nova", "serial=A1B2"};
};

inline std::vector<unsigned char> buildReply(const ReplyShape& shape)
{
    DnsMessageBuilder m;
    const unsigned additionals = (shape.withSrv ? 1 : 0) + (shape.withTxt ? 1 : 0) +
                                 (shape.withA ? 1 : 0) + (shape.withAaaaAndNsec ? 2 : 0);
    m.header(shape.id, 1, 1, 0, additionals);
    const unsigned question = unsigned(m.size());
    m.labels({"_corvane", "_tcp", "local"}).end().u16(12).u16(1);
    // Answer: owner is the question name; data is the instance label then the type.
    m.pointer(question).recordHeader(12, 0);
    size_t lengthAt = m.size() - 2;
    const unsigned instanceAt = unsigned(m.size());
    m.labels({shape.instance}).pointer(question);
    m.patchU16(lengthAt, unsigned(m.size() - lengthAt - 2));

    if (shape.withAaaaAndNsec) {
        m.pointer(instanceAt).recordHeader(28, 16);
        for (int i = 0; i < 16; ++i)
            m.u8(i == 15 ? 1 : 0);
        m.pointer(instanceAt).recordHeader(47, 0);
        lengthAt = m.size() - 2;
        m.pointer(instanceAt).u8(0).u8(2).u8(0x40).u8(0x08);
        m.patchU16(lengthAt, unsigned(m.size() - lengthAt - 2));
    }
    unsigned hostAt = 0;
    if (shape.withSrv) {
        m.pointer(instanceAt).recordHeader(33, 0);
        lengthAt = m.size() - 2;
        m.u16(0).u16(0).u16(shape.port);
        hostAt = unsigned(m.size());
        m.labels({shape.target, "local"}).end();
        m.patchU16(lengthAt, unsigned(m.size() - lengthAt - 2));
    }
    if (shape.withTxt) {
        m.pointer(instanceAt).recordHeader(16, 0);
        lengthAt = m.size() - 2;
        for (const std::string& entry : shape.txt)
            m.u8(unsigned(entry.size())).raw(entry);
        m.patchU16(lengthAt, unsigned(m.size() - lengthAt - 2));
    }
    if (shape.withA) {
        if (hostAt)
            m.pointer(hostAt);
        else
            m.labels({shape.target, "local"}).end();
        m.recordHeader(1, 4).u8(192).u8(168).u8(7).u8(21);
    }
    return m.bytes;
}

// Captured from avahi-daemon 0.8 (Debian 12) publishing "Studio Deck" as _http._tcp on port
// 8080 with TXT "model=nova" "serial=A1B2", asked by legacy unicast for _http._tcp.local: one
// question and five answers (PTR, TXT, SRV, AAAA, A), nothing additional. The id is replaced.
inline std::vector<unsigned char> avahiDaemonReply(unsigned id)
{
    std::vector<unsigned char> reply = {
        0x12, 0x34, 0x84, 0x00, 0x00, 0x01, 0x00, 0x05, 0x00, 0x00, 0x00, 0x00, 0x05, 0x5f, 0x68,
        0x74, 0x74, 0x70, 0x04, 0x5f, 0x74, 0x63, 0x70, 0x05, 0x6c, 0x6f, 0x63, 0x61, 0x6c, 0x00,
        0x00, 0x0c, 0x00, 0x01, 0xc0, 0x0c, 0x00, 0x0c, 0x00, 0x01, 0x00, 0x00, 0x00, 0x0a, 0x00,
        0x0e, 0x0b, 0x53, 0x74, 0x75, 0x64, 0x69, 0x6f, 0x20, 0x44, 0x65, 0x63, 0x6b, 0xc0, 0x0c,
        0xc0, 0x2e, 0x00, 0x10, 0x00, 0x01, 0x00, 0x00, 0x00, 0x0a, 0x00, 0x17, 0x0a, 0x6d, 0x6f,
        0x64, 0x65, 0x6c, 0x3d, 0x6e, 0x6f, 0x76, 0x61, 0x0b, 0x73, 0x65, 0x72, 0x69, 0x61, 0x6c,
        0x3d, 0x41, 0x31, 0x42, 0x32, 0xc0, 0x2e, 0x00, 0x21, 0x00, 0x01, 0x00, 0x00, 0x00, 0x0a,
        0x00, 0x0b, 0x00, 0x00, 0x00, 0x00, 0x1f, 0x90, 0x02, 0x76, 0x6d, 0xc0, 0x17, 0xc0, 0x71,
        0x00, 0x1c, 0x00, 0x01, 0x00, 0x00, 0x00, 0x0a, 0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00,
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0xc0, 0x71, 0x00, 0x01,
        0x00, 0x01, 0x00, 0x00, 0x00, 0x0a, 0x00, 0x04, 0x7f, 0x00, 0x00, 0x01,
    };
    reply[0] = uint8_t(id >> 8);
    reply[1] = uint8_t(id);
    return reply;
}
