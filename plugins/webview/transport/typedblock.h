#pragma once

#include "plugins/webview/transport/blockdescription.h"

#include <cstdint>
#include <utility>

namespace BlockProtocol {

// A field whose key was found in a typed block's key table.
struct Tag
{
    QByteArray key;
    QByteArray value;
    uint8_t tag = 0;
};

using KeyToTag = std::vector<std::pair<QByteArray, uint8_t>>;
using TypedHandler = std::function<std::vector<Block>(const std::vector<Tag>& fields)>;

// A description for one block name (matched ignoring ASCII case) whose handler receives the
// fields with known keys as tags, in field order; unknown keys are dropped.
BlockDescription makeTypedDescription(const QByteArray& name, KeyToTag keyToTag,
                                      TypedHandler handler, Block::Format format = Block::KeyValue);

} // namespace BlockProtocol
