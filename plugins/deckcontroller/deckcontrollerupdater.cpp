#include "plugins/deckcontroller/deckcontrollerupdater.h"

#include "plugins/deckcontroller/firmwarecatalogue.h"
#include "plugins/deckcontroller/ideckcontrollerdevice.h"

#include <exception>
#include <vector>

DeckControllerUpdater::DeckControllerUpdater() = default;

DeckControllerUpdater::~DeckControllerUpdater()
{
    waitForEnd();
    m_device = nullptr;
}

void DeckControllerUpdater::setDevice(IDeckControllerDevice* device)
{
    waitForEnd();
    m_device = device;
}

void DeckControllerUpdater::run()
{
    beginRun();
    // Every run reports from 0, whatever the last one reached.
    m_rangeStart = 0.0f;
    m_rangeEnd = 1.0f;
    const bool succeeded = update();
    finishRun();
    emit complete(succeeded);
    endRun();
}

void DeckControllerUpdater::report(float fraction)
{
    emit progressed(fraction < 0 ? -1.0f : m_rangeStart + (m_rangeEnd - m_rangeStart) * fraction);
}

bool DeckControllerUpdater::update()
{
    IDeckControllerDevice* device = m_device.load();
    if (!device)
        return false;
    uint16_t productId = 0;
    if (!device->getProductId(productId))
        return false;

    // Every entry with its payload before the unit is touched: a package that does not read
    // whole leaves the unit as it is.
    std::vector<FirmwarePackageEntry*> entries;
    uint64_t total = 0;
    try {
        FirmwareCatalogue* catalogue = FirmwareCatalogue::getCatalogue(productId);
        if (!catalogue || catalogue->entryCount() == 0)
            return false;
        const size_t count = catalogue->entryCount();
        for (size_t i = 0; i < count; ++i) {
            FirmwarePackageEntry* entry = catalogue->getEntry(uint32_t(i), true);
            if (!entry || !entry->data())
                return false;
            entries.push_back(entry);
            total += entry->size();
        }
    } catch (const std::exception&) {
        return false;
    }

    report(0.0f);
    if (!device->beginUpdate())
        return false;

    uint64_t written = 0;
    const auto progress = [this](float fraction) { report(fraction); };
    for (FirmwarePackageEntry* entry : entries) {
        m_rangeStart = total ? float(double(written) / double(total)) : 0.0f;
        written += entry->size();
        m_rangeEnd = total ? float(double(written) / double(total)) : 0.0f;
        if (entry->kind() == FirmwareCatalogue::kSkippedKind)
            continue;
        const uint8_t target = FirmwareCatalogue::entryTarget(*entry);
        const bool ok = target >= FirmwareCatalogue::kImageTarget
                            ? device->writeImage(entry->data(), entry->size(), progress)
                            : device->program(target, FirmwareCatalogue::entryAddress(*entry),
                                              entry->data(), entry->size(), progress);
        if (!ok) {
            // The unit must not stay in update mode because one write failed.
            device->endUpdate();
            return false;
        }
    }
    return device->endUpdate();
}
