#include "fakekestrel.h"

#include "plugins/recorder/settingsblock.h"

#include <algorithm>

FakeKestrel::FakeKestrel(std::uint16_t id, std::uint32_t caps)
    : productId(id)
    , capabilities(caps)
{
}

FakeKestrel::~FakeKestrel()
{
    if (destroyed)
        ++*destroyed;
}

void FakeKestrel::log(const char* operation)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_calls.emplace_back(operation);
}

std::vector<std::string> FakeKestrel::calls() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_calls;
}

int FakeKestrel::callCount(const std::string& operation) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return int(std::count(m_calls.begin(), m_calls.end(), operation));
}

bool FakeKestrel::isConnected()
{
    log("isConnected");
    return connected.next();
}

bool FakeKestrel::getProductId(std::uint16_t& id)
{
    log("getProductId");
    const auto answer = productId.next();
    if (answer)
        id = *answer;
    return answer.has_value();
}

void FakeKestrel::getName(std::string& out)
{
    log("getName");
    if (name)
        out = *name;
}

bool FakeKestrel::getCapabilities(std::uint32_t& out)
{
    log("getCapabilities");
    const auto answer = capabilities.next();
    if (answer)
        out = *answer;
    return answer.has_value();
}

bool FakeKestrel::isFirmwareCurrent()
{
    log("isFirmwareCurrent");
    return firmwareCurrent.next();
}

bool FakeKestrel::setCodecMode(std::uint32_t fourCC)
{
    log("setCodecMode");
    codecModes.push_back(fourCC);
    return codecModeResult.next();
}

bool FakeKestrel::shouldProgramType3()
{
    log("shouldProgramType3");
    return programType3.next();
}

bool FakeKestrel::prepareForUpdate()
{
    log("prepareForUpdate");
    return prepareResult.next();
}

bool FakeKestrel::program(CVN::DiskRecorder::ProgramType type, std::uint8_t target,
                          std::uint32_t address, const std::uint8_t* data, std::uint32_t size,
                          CVN::DiskRecorder::ProgressCallback progress, void* context)
{
    log("program");
    ProgramCall call{type, target, address, {}};
    if (data)
        call.data.assign(data, data + size);
    programCalls.push_back(std::move(call));
    if (progress) {
        for (float step : progressSteps)
            progress(context, step);
    }
    return programResult.next();
}

bool FakeKestrel::rebootAfterUpdate()
{
    log("rebootAfterUpdate");
    return rebootResult.next();
}

bool FakeKestrel::isBusy(bool& out)
{
    log("isBusy");
    const auto answer = busy.next();
    if (answer)
        out = *answer;
    return answer.has_value();
}

unsigned FakeKestrel::fpgaVersion()
{
    log("fpgaVersion");
    return fpga.next();
}

std::uint32_t FakeKestrel::cpuChecksum()
{
    log("cpuChecksum");
    return checksum.next();
}

bool FakeKestrel::setClock(std::uint32_t time)
{
    log("setClock");
    clockTimes.push_back(time);
    return clockResult.next();
}

bool FakeKestrel::settingsChanged()
{
    log("settingsChanged");
    return changed.next();
}

bool FakeKestrel::readSettingsBlock(std::unique_ptr<SettingsBlock>& block)
{
    log("readSettingsBlock");
    const std::uint8_t* bytes = settingsBlock.data();
    const std::size_t size = settingsBlock.size();
    if (!SettingsBlock::checkItems(bytes, size))
        return false;
    auto loaded = std::make_unique<SettingsBlock>();
    if (!loaded->load(bytes, size))
        return false;
    block = std::move(loaded);
    return true;
}

bool FakeKestrel::writeSettingsBlock(const SettingsBlock* block)
{
    log("writeSettingsBlock");
    if (!block || !block->data())
        return false;
    writtenBlocks.emplace_back(block->data(), block->data() + block->totalLength());
    return blockWriteResult.next();
}
