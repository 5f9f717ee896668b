#include "plugins/webview/transport/firmwareupdateblock.h"

#include "plugins/webview/transport/asciicase.h"

#include <cstdio>
#include <cstdlib>

namespace Protocols::FirmwareUpdate {

namespace {

const QByteArray kName = QByteArrayLiteral("FIRMWARE UPDATE");

} // namespace

BlockProtocol::Block makeBlock()
{
    return BlockProtocol::Block(kName);
}

BlockProtocol::Tag makeField(Tags tag, uint32_t value)
{
    if (tag != Tags::Size) {
        std::printf("ASSERTION FAILED: file: \"%s\", line %d\n", "CommonBlocks/FirmwareUpdate", 73);
        std::printf("*** \nGot unexpected tag: %d", int(tag));
        std::fflush(stdout);
        std::abort();
    }
    return BlockProtocol::Tag{QByteArrayLiteral("Size"), QByteArray::number(value),
                              uint8_t(Tags::Size)};
}

bool statusFromString(const QByteArray& text, Status& status)
{
    static const std::pair<const char*, Status> table[] = {
        {"Complete", Status::Complete},
        {"Failed", Status::Failed},
        {"Update in Progress", Status::UpdateInProgress},
    };
    for (const auto& entry : table) {
        if (BlockProtocol::equalsIgnoringAsciiCase(text, QByteArray(entry.first))) {
            status = entry.second;
            return true;
        }
    }
    return false;
}

bool portFromString(const QByteArray& text, uint16_t& port)
{
    // Reads like strtol into a 32-bit long: leading blanks, a sign, digits, anything after.
    qsizetype i = 0;
    while (i < text.size() && BlockProtocol::isAsciiSpace(text.at(i)))
        ++i;
    bool negative = false;
    if (i < text.size() && (text.at(i) == '+' || text.at(i) == '-')) {
        negative = text.at(i) == '-';
        ++i;
    }
    if (i >= text.size() || text.at(i) < '0' || text.at(i) > '9')
        return false;
    int64_t value = 0;
    for (; i < text.size() && text.at(i) >= '0' && text.at(i) <= '9'; ++i) {
        value = value * 10 + (text.at(i) - '0');
        if (value > int64_t(INT32_MAX) + 1)
            return false;
    }
    if (!negative && value > INT32_MAX)
        return false;
    // Negative values are huge as unsigned, so every one is out of range.
    if ((negative && value != 0) || value > 65535)
        return false;
    port = uint16_t(value);
    return true;
}

BlockProtocol::BlockDescription blockDescription(std::function<void(uint16_t)> onPort,
                                                 std::function<void(Status)> onStatus)
{
    BlockProtocol::KeyToTag keys = {
        {QByteArrayLiteral("Port"), uint8_t(Tags::Port)},
        {QByteArrayLiteral("Status"), uint8_t(Tags::Status)},
    };
    auto handler = [onPort = std::move(onPort),
                    onStatus = std::move(onStatus)](const std::vector<BlockProtocol::Tag>& fields) {
        for (const BlockProtocol::Tag& field : fields) {
            if (field.tag == uint8_t(Tags::Port)) {
                uint16_t port = 0;
                if (portFromString(field.value, port) && onPort)
                    onPort(port);
            } else if (field.tag == uint8_t(Tags::Status)) {
                Status status = Status::UpdateInProgress;
                if (statusFromString(field.value, status) && onStatus)
                    onStatus(status);
            }
        }
        return std::vector<BlockProtocol::Block>();
    };
    return BlockProtocol::makeTypedDescription(kName, std::move(keys), std::move(handler),
                                               BlockProtocol::Block::KeyValue);
}

} // namespace Protocols::FirmwareUpdate
