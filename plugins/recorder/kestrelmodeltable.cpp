#include "plugins/recorder/kestrelmodeltable.h"

namespace {

struct ModelRow
{
    const char* name;
    const char* image;
    const char* thumbnail;
    KestrelModelTable::BackEnd backEnd;
};

// Indexed by model number; the last row stands for every product id not listed.
constexpr ModelRow kModels[] = {
    {"Kestrel Pocket", ":/Lark", ":/LarkThumb", KestrelModelTable::FX2},
    {"Kestrel Pocket 2", ":/Lark2", ":/Lark2Thumb", KestrelModelTable::FX2},
    {"Kestrel Bench Max", ":/Heron", ":/HeronThumb", KestrelModelTable::FX2},
    {"Kestrel Bench", ":/Wren", ":/WrenThumb", KestrelModelTable::FX2},
    {"Kestrel Bench UHD", ":/Wren3", ":/Wren3Thumb", KestrelModelTable::XmegaMailbox},
    {"Kestrel Bench Lite", ":/Finch", ":/FinchThumb", KestrelModelTable::XmegaStreaming},
    {"Kestrel", nullptr, nullptr, KestrelModelTable::NoBackEnd},
};

const ModelRow& row(int model)
{
    if (model < 0 || model > KestrelModelTable::UnknownModel)
        model = KestrelModelTable::UnknownModel;
    return kModels[model];
}

QString resource(const char* path)
{
    return path ? QString::fromLatin1(path) : QString();
}

} // namespace

int KestrelModelTable::model(quint16 productId)
{
    switch (productId) {
    case 0xC34C:
        return KestrelPocket;
    case 0xC35A:
        return KestrelPocket2;
    case 0xC3A3:
    case 0xC367:
        return KestrelBenchMax;
    case 0xC34D:
        return KestrelBench;
    case 0xC3A6:
        return KestrelBenchUHD;
    case 0xC3E4:
    case 0xBE0F:
        return KestrelBenchLite;
    default:
        return UnknownModel;
    }
}

QString KestrelModelTable::name(int model)
{
    return QString::fromLatin1(row(model).name);
}

QString KestrelModelTable::productImage(int model)
{
    return resource(row(model).image);
}

QString KestrelModelTable::thumbnail(int model)
{
    return resource(row(model).thumbnail);
}

KestrelModelTable::BackEnd KestrelModelTable::backEnd(int model)
{
    return row(model).backEnd;
}
