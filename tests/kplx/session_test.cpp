// One meter's session in this process, through the simulator backend, with a link that lets
// the test act at the very moment kplx does something: a stop that comes while the bridge is
// being tuned, and a second Ctrl-C while a read is waiting for a silent meter.
#include "kplx/database_file.h"
#include "kplx/meter_session.h"
#include "kplx_run.h"
#include "link/sim_backend.h"
#include "sim/sim.h"

#include <condition_variable>
#include <mutex>
#include <thread>

using namespace kplxtest;
using namespace kplx;

namespace {

// Passes every call on to the real link, and calls the test's hooks on the way.
class Watched : public link::MeterLink {
public:
    explicit Watched(link::MeterLink &inner) : inner_(inner) {}

    std::function<void()> onTuning;      // the bridge's latency timer is being set short
    std::function<void()> onRead;        // a read is about to wait
    int writes = 0;

    link::Status readEeprom(link::EepromRecord &record) override { return inner_.readEeprom(record); }
    link::Status claim() override { return inner_.claim(); }
    link::Status configure() override { return inner_.configure(); }
    link::Status setTimeouts(uint32_t readMs, uint32_t writeMs) override { return inner_.setTimeouts(readMs, writeMs); }
    link::Status write(const uint8_t *data, size_t size) override
    {
        ++writes;
        return inner_.write(data, size);
    }
    link::Status read(uint8_t *buffer, size_t want, size_t &got) override
    {
        if (onRead)
            onRead();
        return inner_.read(buffer, want, got);
    }
    link::Status purgeReceive() override { return inner_.purgeReceive(); }
    link::Status purgeTransmit() override { return inner_.purgeTransmit(); }
    link::Status getLatencyTimer(uint8_t &ms) override { return inner_.getLatencyTimer(ms); }
    link::Status setLatencyTimer(uint8_t ms) override
    {
        if (ms < 16 && onTuning)
            onTuning();
        return inner_.setLatencyTimer(ms);
    }
    void cancelReadsWhen(const std::atomic<bool> *flag) override { inner_.cancelReadsWhen(flag); }

private:
    link::MeterLink &inner_;
};

class Session : public KplxTest {
protected:
    // The simulator with the devices of `text`, and its first meter open and configured.
    void open(const std::string &text)
    {
        config(text);
        setenv("KPLX_SIM_CONFIG", (dir / "sim.cfg").c_str(), 1);
        std::string error;
        backend = link::makeSimBackend(error);
        ASSERT_NE(nullptr, backend) << error;
        std::vector<link::DeviceInfo> devices;
        ASSERT_EQ(link::Status::ok, backend->enumerate(devices));
        ASSERT_FALSE(devices.empty());
        ASSERT_EQ(link::Status::ok, backend->open(devices[0], meter));
        ASSERT_EQ(link::Status::ok, meter->claim());
        ASSERT_EQ(link::Status::ok, meter->configure());
        writeFile(dir / "small.db", pattern(9 * 128 + 118, 4));   // ten blocks
        database = readDatabaseFile((dir / "small.db").string(), true);
        ASSERT_TRUE(database.ok()) << database.error;
    }

    MeterReport load(link::MeterLink &through)
    {
        SessionOptions options;
        MeterProgress progress;
        return loadMeter(through, "KP000001", database.view, options, progress, StopRequest{stop, abandon}, nullptr);
    }

    std::unique_ptr<link::Backend> backend;
    std::unique_ptr<link::MeterLink> meter;
    DatabaseFile database;
    std::atomic<bool> stop{false}, abandon{false};
};

TEST_F(Session, StopWhileTheBridgeIsTunedSendsNoFrameAndPutsTheBridgeBack)
{
    open("device meter\n");
    Watched watched(*meter);
    watched.onTuning = [this] { stop = true; };
    MeterReport r = load(watched);
    EXPECT_EQ(Outcome::interrupted, r.outcome);
    EXPECT_EQ("interrupted before the transfer began", r.message);
    EXPECT_TRUE(r.attempts.empty());
    EXPECT_EQ(0, watched.writes);
    EXPECT_TRUE(sim::frames(0).empty());
    EXPECT_EQ((std::vector<int>{2, 16}), sim::port(0).latencySets);
    EXPECT_TRUE(r.tuning.restored);
}

TEST_F(Session, AbandonEndsTheWaitForASilentMeterWithinTheRead)
{
    // Real time: each of the two reads for block 3's reply would wait 6 s.
    open("device meter\nsilent-from 3\n");
    std::mutex m;
    std::condition_variable cv;
    int reads = 0;
    Watched watched(*meter);
    watched.onRead = [&] {
        std::lock_guard<std::mutex> hold(m);
        ++reads;
        cv.notify_all();
    };
    // Once the read for block 3 is under way (DATABASE, blocks 1 and 2 took one read each),
    // Ctrl-C twice.
    std::thread user([&] {
        std::unique_lock<std::mutex> hold(m);
        cv.wait(hold, [&] { return reads >= 4; });
        hold.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));   // well into the read
        stop = true;
        abandon = true;
    });
    MeterReport r = load(watched);
    user.join();
    EXPECT_EQ(Outcome::interrupted, r.outcome);
    EXPECT_EQ("interrupted: gave up waiting for the reply to block 3 of 10", r.message);
    EXPECT_EQ(4, reads);   // the first read was given up: no second one followed
    EXPECT_EQ(4u, sim::frames(0).size());
    EXPECT_EQ((std::vector<int>{2, 16}), sim::port(0).latencySets);
    ASSERT_EQ(1u, r.attempts.size());
    EXPECT_EQ(4u, r.attempts[0].framesSent);
}

}  // namespace
