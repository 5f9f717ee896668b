#include "plugins/webview/transport/typedblock.h"

#include "plugins/webview/transport/asciicase.h"

namespace BlockProtocol {

BlockDescription makeTypedDescription(const QByteArray& name, KeyToTag keyToTag,
                                      TypedHandler handler, Block::Format format)
{
    BlockDescription description;
    description.format = format;
    description.matcher = [name](const QByteArray& header, Arguments*) {
        return equalsIgnoringAsciiCase(header, name);
    };
    description.handler = [keyToTag = std::move(keyToTag), handler = std::move(handler)](
                              Block& block, const Arguments&, const ClientInfo&) {
        std::vector<Tag> tags;
        for (const Block::Field& field : block.fields()) {
            for (const auto& entry : keyToTag) {
                if (equalsIgnoringAsciiCase(field.first, entry.first)) {
                    tags.push_back(Tag{field.first, field.second, entry.second});
                    break;
                }
            }
        }
        return handler ? handler(tags) : std::vector<Block>();
    };
    return description;
}

} // namespace BlockProtocol
