#include "ControllerFixture.h"
#include "Matchers.h"
#include "controller/USBWorker.h"
#include "core/UPSError.h"

#include <atomic>
#include <thread>

#include <QTimer>

#include <gmock/gmock.h>

using namespace quelmar;
using namespace quelmar::test;
using namespace std::chrono_literals;
using testing::ElementsAre;

namespace {

QCoro::Task<std::string> appendAfter(USBWorker& worker, std::vector<std::string>& order, std::string name,
                                     std::chrono::milliseconds work) {
    auto job = [&order, name, work](HIDSession&) {
        order.push_back(name + " starts");
        std::this_thread::sleep_for(work);
        order.push_back(name + " ends");
        return name;
    };
    auto call = worker.run(job);
    co_return co_await call;
}

// Awaiting a job built inside the co_await expression does not compile (g++ 12 would free its captures twice).
template <typename T>
concept AwaitableAsTemporary = requires(T&& pending) {
    std::move(pending).operator co_await();
};
static_assert(!AwaitableAsTemporary<MainThread::Pending<int>>);
static_assert(requires(MainThread::Pending<int> & pending) { pending.operator co_await(); });

QCoro::Task<Connection> connecting(USBWorker& worker, std::string id) {
    auto call = worker.connect(std::move(id));
    co_return co_await call;
}

QCoro::Task<> failing(USBWorker& worker) {
    auto call = worker.run([](HIDSession&) { throw UPSError("作业失败"); });
    co_await call;
}

} // namespace

TEST(USBWorker, RunsJobsOfTwoTasksOneAfterTheOtherInSubmissionOrder) {
    EmulatedPlatform platform({});
    USBWorker worker(platform);
    std::vector<std::string> order; // written by the worker's thread only while the main thread waits
    auto first = appendAfter(worker, order, "first", 30ms);
    auto second = appendAfter(worker, order, "second", 0ms);
    EXPECT_EQ(await(std::move(second)), "second");
    EXPECT_EQ(await(std::move(first)), "first");
    EXPECT_THAT(order, ElementsAre("first starts", "first ends", "second starts", "second ends"));
}

TEST(USBWorker, AFailedJobReachesItsTaskUnchangedAndTheNextJobStillRuns) {
    EmulatedPlatform platform({testBoard()});
    USBWorker worker(platform);
    EXPECT_THAT([&] { await(failing(worker)); }, ThrowsUPSError("作业失败"));

    // connect: a bootloader board has no configuration; an out-of-range stored one is dropped, not an error.
    auto boot = testBoard(0x01200000, "B");
    boot.bootloader = true;
    auto odd = testBoard(0x01300000, "C");
    odd.config.capacity = 0;
    EmulatedPlatform boards({testBoard(), boot, odd});
    USBWorker second(boards);
    const auto app = await(connecting(second, idOf()));
    EXPECT_EQ(app.device, (DeviceChoice{idOf(), "Quelmar DC UPS", "QM1", false}));
    ASSERT_TRUE(app.config);
    EXPECT_EQ(app.config->capacity(), 2600);
    const auto bootloader = await(connecting(second, idOf(0x01200000)));
    EXPECT_TRUE(bootloader.device.bootloader);
    EXPECT_FALSE(bootloader.config);
    EXPECT_FALSE(await(connecting(second, idOf(0x01300000))).config);
    EXPECT_THAT([&] { await(connecting(second, "location:1")); }, ThrowsUPSError("设备已断开"));
}

TEST(USBWorker, DestroyingItFinishesTheJobsAlreadySubmitted) {
    EmulatedPlatform platform({});
    auto worker = std::make_unique<USBWorker>(platform);
    std::vector<std::string> order;
    auto first = appendAfter(*worker, order, "first", 20ms);
    auto second = appendAfter(*worker, order, "second", 0ms);
    worker.reset();
    EXPECT_THAT(order, ElementsAre("first starts", "first ends", "second starts", "second ends"));
    EXPECT_EQ(await(std::move(second)), "second");
}

TEST(USBWorker, TheEventLoopKeepsTurningWhileAJobRuns) {
    EmulatedPlatform platform({});
    USBWorker worker(platform);
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });
    timer.start(5);
    std::vector<std::string> order;
    await(appendAfter(worker, order, "long", 200ms));
    EXPECT_GE(ticks, 10);
}
