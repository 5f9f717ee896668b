#pragma once

#include "plugins/webview/transport/block.h"

#include <QByteArray>

#include <functional>
#include <vector>

namespace BlockProtocol {

// What a handler learns of the peer; nothing is needed of it yet.
struct ClientInfo
{
};

using Arguments = std::vector<QByteArray>;

// A block a client can receive: how its fields are read, who handles it, which headers it takes.
struct BlockDescription
{
    Block::Format format = Block::KeyValue;
    // Returns reply blocks.
    std::function<std::vector<Block>(Block& block, const Arguments& arguments,
                                     const ClientInfo& info)>
        handler;
    // Accepts a header; may fill arguments when given a list.
    std::function<bool(const QByteArray& header, Arguments* arguments)> matcher;
};

} // namespace BlockProtocol
