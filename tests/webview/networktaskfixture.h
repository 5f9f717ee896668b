#pragma once

#include "firmwarefolder.h"
#include "framework/contract/devicefirmwareupdater.h"
#include "groupingfamily.h"
#include "loopbackbonjourmanager.h"

#include <QList>
#include <QSignalSpy>

#include <memory>

// What the network update tasks' tests share: a firmware folder holding the Alder package of a
// patterned image, the family, and a manager that resolves the announced recorder to the test's
// simulated one on loopback.
class NetworkTaskFixture
{
public:
    // False when the package could not be written.
    bool setUp(int imageSize)
    {
        folder = std::make_unique<FirmwareFolder>();
        image = FirmwareFolder::pattern(imageSize);
        family = std::make_unique<GroupingFamily>();
        return folder->write("data-be1d.bin", 0xBE1D, image);
    }

    // The manager goes before the family it reports to.
    void tearDown()
    {
        manager.reset();
        family.reset();
        folder.reset();
    }

    // The announced recorder's potential device, resolved to endpoint, with the product's waits
    // set to seconds; null when the manager did not take it.
    std::shared_ptr<BonjourPotentialDevice> announce(int64_t seconds,
                                                     LoopbackBonjourManager::Endpoint endpoint)
    {
        manager = std::make_shared<LoopbackBonjourManager>(
            family.get(), LoopbackBonjourManager::table(seconds), std::move(endpoint));
        return manager->announceRecorder();
    }

    // The results a task reports from inside start(), before any event is handled.
    static QList<int> resultsOfStart(DeviceFirmwareUpdater& task)
    {
        QSignalSpy updated(&task, &DeviceFirmwareUpdater::firmwareUpdated);
        task.start();
        QList<int> results;
        for (const QList<QVariant>& arguments : updated)
            results.append(arguments.at(0).toInt());
        return results;
    }

    std::unique_ptr<FirmwareFolder> folder;
    QByteArray image;
    std::unique_ptr<GroupingFamily> family;
    std::shared_ptr<LoopbackBonjourManager> manager;
};
