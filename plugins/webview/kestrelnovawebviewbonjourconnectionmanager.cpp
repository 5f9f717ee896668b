#include "kestrelnovawebviewbonjourconnectionmanager.h"

#include "novafamilybase.h"

void KestrelNovaWebViewBonjourConnectionManager::requestResolve(const BonjourInfo& info)
{
    const auto release = info.txt.find("release version");
    const QString version =
        release == info.txt.end() ? QString() : QString::fromStdString(release->second);
    if (isLegacyReleaseVersion(version) || !family()) {
        BonjourConnectionManager::requestResolve(info);
        return;
    }
    emit family()->bonjourResolveRequestedWithPort(info, kWebServerPort, family()->serviceNames());
}
