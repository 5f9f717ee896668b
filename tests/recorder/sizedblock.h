#pragma once

#include "blockbytes.h"

#include "plugins/recorder/ikestreldrsettingsdevice.h"
#include "plugins/recorder/settingsblock.h"

#include <QTest>

#include <cstdint>
#include <memory>
#include <vector>

// A well-formed settings block of exactly `size` bytes (12, or 20 and more): 12-byte items,
// then one item taking the rest. `seed` varies the values.
inline std::vector<std::uint8_t> blockOfSize(std::uint32_t size, std::uint32_t seed = 1)
{
    SettingsBlock block;
    block.create(size);
    std::uint32_t key = 0xC3010100;
    while (block.totalLength() + 12 + 8 <= size || block.totalLength() + 12 == size)
        block.addValue(key++, seed++ * 2654435761u);
    const std::uint32_t rest = size - block.totalLength();
    if (rest >= 8) {
        std::vector<std::uint8_t> item(rest, 0);
        SettingsBlock::writeU32(item.data(), rest);
        SettingsBlock::writeU32(item.data() + 4, 0xC30200FF);
        for (std::uint32_t i = 8; i < rest; ++i)
            item[i] = std::uint8_t(seed + i);
        block.addItem(item.data(), item.size());
    }
    return std::vector<std::uint8_t>(block.data(), block.data() + block.totalLength());
}

inline std::unique_ptr<SettingsBlock> loaded(const std::vector<std::uint8_t>& bytes)
{
    auto block = std::make_unique<SettingsBlock>();
    block->load(bytes.data(), bytes.size());
    return block;
}

inline std::vector<std::uint8_t> bytesOf(const SettingsBlock& block)
{
    return std::vector<std::uint8_t>(block.data(), block.data() + block.totalLength());
}

// Collects the fractions a program() call reports.
inline void recordProgress(void* context, float fraction)
{
    static_cast<std::vector<float>*>(context)->push_back(fraction);
}

// Blocks a unit may hold that no settings read may hand out, as rows of a "stored" column.
inline void addMalformedBlockRows()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::newRow("wrong magic") << beWords({12, 0x000C3C02, 0});
    QTest::newRow("longer than any block") << beWords({8193, 0x000C3C01, 0});
    QTest::newRow("zero length") << beWords({0, 0x000C3C01, 0});
    QTest::newRow("shorter than its header") << beWords({11, 0x000C3C01, 0});
    QTest::newRow("item past the end") << beWords({24, 0x000C3C01, 1, 40, 0xC3010001, 1});
}

// A read that fails and leaves the caller's block as it was.
inline bool readIsRefused(CVN::DiskRecorder::IKestrelDRSettingsDevice& device)
{
    auto* untouched = new SettingsBlock;
    std::unique_ptr<SettingsBlock> block(untouched);
    return !device.readSettingsBlock(block) && block.get() == untouched;
}
