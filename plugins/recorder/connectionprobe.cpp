#include "plugins/recorder/connectionprobe.h"

#include "plugins/recorder/idevice.h"
#include "usb/rpc/rpcexception.h"
#include "usb/rpc/vornosrpcexception.h"

namespace CVN {
namespace DiskRecorder {

ConnectionProbe::State ConnectionProbe::probe(IDevice& device)
{
    try {
        return device.isConnected() ? Connected : NotConnected;
    } catch (const VornOSRPC::IncompatiableProtocolException&) {
        return Incompatible;
    } catch (const VornOSRPC::RpcRequestIncompatibleException&) {
        return Incompatible;
    } catch (const std::exception&) {
        return NotConnected;
    }
}

} // namespace DiskRecorder
} // namespace CVN
