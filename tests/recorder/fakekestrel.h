#pragma once

#include "plugins/recorder/ikestreldrsettingsdevice.h"

#include <atomic>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// One answer per call: the queued answers first, in order, then the standing one.
template<typename T> class Script
{
public:
    Script(T standing = T())
        : standing(std::move(standing))
    {
    }
    Script& operator=(T value)
    {
        standing = std::move(value);
        queued.clear();
        return *this;
    }
    void then(T value) { queued.push_back(std::move(value)); }
    T next()
    {
        if (queued.empty())
            return standing;
        T value = std::move(queued.front());
        queued.pop_front();
        return value;
    }

    T standing;
    std::deque<T> queued;
};

// A settings-block recorder whose answers the test scripts. A read answer of std::nullopt
// makes that read fail. Every call is logged by operation name; the settings block is held as
// bytes and read back through the same checks a real back-end makes.
class FakeKestrel : public CVN::DiskRecorder::IKestrelDRSettingsDevice
{
public:
    struct ProgramCall
    {
        CVN::DiskRecorder::ProgramType type;
        std::uint8_t target;
        std::uint32_t address;
        std::vector<std::uint8_t> data;
    };

    explicit FakeKestrel(std::uint16_t productId = 0xC3A6, std::uint32_t capabilities = 0x31);
    ~FakeKestrel() override;

    bool isConnected() override;
    bool getProductId(std::uint16_t& productId) override;
    void getName(std::string& name) override;
    bool getCapabilities(std::uint32_t& capabilities) override;
    bool isFirmwareCurrent() override;
    bool setCodecMode(std::uint32_t fourCC) override;
    bool shouldProgramType3() override;
    bool prepareForUpdate() override;
    bool program(CVN::DiskRecorder::ProgramType type, std::uint8_t target, std::uint32_t address,
                 const std::uint8_t* data, std::uint32_t size,
                 CVN::DiskRecorder::ProgressCallback progress, void* context) override;
    bool rebootAfterUpdate() override;
    bool isBusy(bool& busy) override;
    unsigned fpgaVersion() override;
    std::uint32_t cpuChecksum() override;
    bool setClock(std::uint32_t time) override;
    bool settingsChanged() override;
    bool readSettingsBlock(std::unique_ptr<SettingsBlock>& block) override;
    bool writeSettingsBlock(const SettingsBlock* block) override;

    // Log, thread-safe: the updater thread calls in while the test thread looks.
    std::vector<std::string> calls() const;
    int callCount(const std::string& operation) const;

    Script<bool> connected{true};
    Script<std::optional<std::uint16_t>> productId;
    Script<std::optional<std::uint32_t>> capabilities;
    std::optional<std::string> name; // stored by getName when set, else the string is untouched
    Script<bool> firmwareCurrent{true};
    Script<bool> codecModeResult{true};
    Script<bool> programType3{true};
    Script<bool> prepareResult{true};
    Script<bool> programResult{true};
    Script<bool> rebootResult{true};
    Script<std::optional<bool>> busy{false};
    Script<unsigned> fpga{0};
    Script<std::uint32_t> checksum{0};
    Script<bool> clockResult{true};
    Script<bool> changed{false};
    // The block on the device; empty makes the read fail.
    std::vector<std::uint8_t> settingsBlock;
    Script<bool> blockWriteResult{true};
    // Fractions each program() call reports through its callback.
    std::vector<float> progressSteps;

    std::vector<std::uint32_t> codecModes;
    std::vector<std::uint32_t> clockTimes;
    std::vector<ProgramCall> programCalls;
    std::vector<std::vector<std::uint8_t>> writtenBlocks;

    // Counts destructions, so tests see the last release delete the object exactly once.
    std::atomic<int>* destroyed = nullptr;

private:
    void log(const char* operation);

    mutable std::mutex m_mutex;
    std::vector<std::string> m_calls;
};
