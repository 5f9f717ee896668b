#pragma once

#include "plugins/webview/transport/typedblock.h"

#include <cstdint>
#include <functional>

namespace Protocols::FirmwareUpdate {

enum class Tags : uint8_t { Size = 0, Status = 1, Port = 2 };
enum class Status : uint8_t { Complete = 0, Failed = 1, UpdateInProgress = 2 };

// An empty "FIRMWARE UPDATE" block.
BlockProtocol::Block makeBlock();

// Only Tags::Size can be made; any other tag is a programming error and aborts.
BlockProtocol::Tag makeField(Tags tag, uint32_t value);

bool statusFromString(const QByteArray& text, Status& status);
bool portFromString(const QByteArray& text, uint16_t& port);

// Receives "FIRMWARE UPDATE" blocks: valid Port and known Status fields reach the callbacks in
// field order.
BlockProtocol::BlockDescription blockDescription(std::function<void(uint16_t port)> onPort,
                                                 std::function<void(Status status)> onStatus);

} // namespace Protocols::FirmwareUpdate
