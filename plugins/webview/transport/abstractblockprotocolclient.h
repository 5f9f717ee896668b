#pragma once

#include "plugins/webview/transport/block.h"

// What a user of a block-protocol conversation needs: queue a block for the peer.
class AbstractBlockProtocolClient
{
public:
    virtual ~AbstractBlockProtocolClient() = default;
    virtual bool send(BlockProtocol::Block&& block) = 0;
};
