#include "FakeAD101.h"
#include "AD101Library.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>

namespace {

constexpr int kBufferSize = 128;
// A pause between the storm's events, so that it does not bury the receiving event loop.
constexpr std::chrono::microseconds kStormPause(200);
constexpr int kCallEvent = 9;
// A test in another process (the agent under Wine) rings the box by leaving files named
// *.call, holding the caller's number, in the folder this variable names.
const char kCallFolderVariable[] = "KIV3_FAKE_AD101_CALLS";
constexpr std::chrono::milliseconds kCallFolderPoll(100);

class FakeAD101 final : public FakeAD101Control
{
public:
    ~FakeAD101()
    {
        stopFiring();
        stopWatching();
    }

    void reset() override
    {
        stopFiring();
        initResult = 1;
        setCallerId(nullptr, 0, 0);
        callback = nullptr;
        initCalls = setCallbackCalls = getCallerIdCallCount = freeCalls = fired = 0;
        lastGivenParam = 0;
    }

    void setInitResult(int result) override { initResult = result; }

    void setCallerId(const char *bytes, int size, int reportedLength) override
    {
        std::lock_guard<std::mutex> lock(callerIdMutex);
        callerId.assign(bytes ? bytes : "", size_t(std::clamp(size, 0, kBufferSize)));
        reported = reportedLength;
    }

    void fireEvent(int code, int param) override
    {
        std::thread([this, code, param] { fire(code, param); }).join();
    }

    void startFiring(int code, int param) override
    {
        stopFiring();
        storming = true;
        storm = std::thread([this, code, param] {
            while (storming) {
                fire(code, param);
                std::this_thread::sleep_for(kStormPause);
            }
        });
    }

    void stopFiring() override
    {
        storming = false;
        if (storm.joinable())
            storm.join();
    }

    int initDeviceCalls() const override { return initCalls; }
    int setEventCallbackCalls() const override { return setCallbackCalls; }
    int getCallerIdCalls() const override { return getCallerIdCallCount; }
    int freeDeviceCalls() const override { return freeCalls; }
    int firedEvents() const override { return fired; }
    int lastParam() const override { return lastGivenParam; }

    int initDevice()
    {
        ++initCalls;
        return initResult;
    }

    void setEventCallback(AD101Library::EventCallback function)
    {
        ++setCallbackCalls;
        callback = function;
        if (const char *folder = std::getenv(kCallFolderVariable); folder && !watcher.joinable())
            watcher = std::thread([this, path = std::filesystem::path(folder)] { watch(path); });
    }

    // Writes the whole of the second and third buffers, so that a reader that strays past
    // the first one picks up their bytes.
    int getCallerId(int eventParam, char *first, char *second, char *third)
    {
        ++getCallerIdCallCount;
        lastGivenParam = eventParam;
        std::memset(second, '8', kBufferSize);
        std::memset(third, '9', kBufferSize);
        std::lock_guard<std::mutex> lock(callerIdMutex);
        std::memcpy(first, callerId.data(), callerId.size());
        return reported;
    }

    void freeDevice()
    {
        ++freeCalls;
        stopWatching();
    }

private:
    void watch(const std::filesystem::path &folder)
    {
        while (watching) {
            std::error_code error;
            for (const auto &entry : std::filesystem::directory_iterator(folder, error)) {
                if (entry.path().extension() != ".call")
                    continue;
                std::string number;
                std::getline(std::ifstream(entry.path()), number);
                std::filesystem::remove(entry.path(), error);
                setCallerId(number.data(), int(number.size()), int(number.size()));
                fire(kCallEvent, 0);
            }
            std::this_thread::sleep_for(kCallFolderPoll);
        }
    }

    void stopWatching()
    {
        watching = false;
        if (watcher.joinable())
            watcher.join();
    }

    void fire(int code, int eventParam)
    {
        if (const AD101Library::EventCallback function = callback) {
            function(0, code, eventParam);
            ++fired;
        }
    }

    std::atomic<int> initResult { 1 };
    std::atomic<AD101Library::EventCallback> callback { nullptr };
    std::mutex callerIdMutex;
    std::string callerId;
    int reported = 0;
    std::atomic<int> initCalls { 0 };
    std::atomic<int> setCallbackCalls { 0 };
    std::atomic<int> getCallerIdCallCount { 0 };
    std::atomic<int> freeCalls { 0 };
    std::atomic<int> fired { 0 };
    std::atomic<int> lastGivenParam { 0 };
    std::atomic<bool> storming { false };
    std::thread storm;
    std::atomic<bool> watching { true };
    std::thread watcher;
};

FakeAD101 fake;

} // namespace

extern "C" {

Q_DECL_EXPORT int AD101_CALL AD101_InitDevice(int)
{
    return fake.initDevice();
}

Q_DECL_EXPORT void AD101_CALL AD101_SetEventCallbackFun(AD101Library::EventCallback callback)
{
    fake.setEventCallback(callback);
}

Q_DECL_EXPORT int AD101_CALL AD101_GetCallerID(int param, char *first, char *second, char *third)
{
    return fake.getCallerId(param, first, second, third);
}

Q_DECL_EXPORT void AD101_CALL AD101_FreeDevice()
{
    fake.freeDevice();
}

Q_DECL_EXPORT FakeAD101Control *FakeAD101_control()
{
    return &fake;
}
}
