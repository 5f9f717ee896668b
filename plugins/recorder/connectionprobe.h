#pragma once

namespace CVN {
namespace DiskRecorder {

class IDevice;

// Asks a recorder whether it is connected where no exception may get out (a thread's run, a
// Qt slot): a unit that speaks a stream protocol this program does not know reads as not
// connected and is told apart, so the caller can offer it new firmware at once.
class ConnectionProbe
{
public:
    enum State { Connected, NotConnected, Incompatible };

    static State probe(IDevice& device);
    static bool isConnected(IDevice& device) { return probe(device) == Connected; }
};

} // namespace DiskRecorder
} // namespace CVN
