// The conversation core on its own: the step plan at its edges, the last block's bytes, the
// VERSION answer's assembly, and the identity verdict naming each deviation.
#include "core/database.h"
#include "core/frame.h"
#include "core/identity.h"
#include "core/replies.h"
#include "core/steps.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace kplx::core;

namespace {

std::vector<uint8_t> imageWith(size_t databaseSize, size_t before = 10)
{
    std::vector<uint8_t> image(before, 0xEE);
    for (size_t i = 0; i < databaseSize; ++i)
        image.push_back(static_cast<uint8_t>(i + 1));
    auto t = makeTrailer(static_cast<uint32_t>(databaseSize));
    image.insert(image.end(), t.begin(), t.end());
    return image;
}

DatabaseView viewOf(const std::vector<uint8_t> &image, size_t databaseSize, size_t before = 10)
{
    DatabaseView v;
    v.image = image.data();
    v.imageSize = image.size();
    v.offset = before;
    v.size = static_cast<uint32_t>(databaseSize);
    return v;
}

TEST(StepPlan, SmallestDatabaseIsDatabaseTwoBlocksAndEnd)
{
    std::vector<uint8_t> image = imageWith(128);
    DatabaseView db = viewOf(image, 128);
    ASSERT_EQ(4, stepCount(db.blockCount()));
    const Step kinds[] = {Step::database, Step::block, Step::block, Step::end};
    const size_t replies[] = {1, 1, 1, 10};
    for (int step = 0; step < 4; ++step) {
        EXPECT_EQ(kinds[step], stepAt(step, 4)) << step;
        EXPECT_EQ(replies[step], replyLength(stepAt(step, 4))) << step;
    }
    EXPECT_EQ(Step::setup, stepAt(kSetupStep, 4));
    uint8_t payload[kMaxStepPayload];
    ASSERT_EQ(8u, stepPayload(db, 0, payload));
    EXPECT_EQ(0, std::memcmp(payload, "DATABASE", 8));
    ASSERT_EQ(3u, stepPayload(db, 3, payload));
    EXPECT_EQ(0, std::memcmp(payload, "END", 3));
}

TEST(StepPlan, LastBlockHoldsTheRestThenTheTrailerThenZeros)
{
    std::vector<uint8_t> image = imageWith(200);
    DatabaseView db = viewOf(image, 200);
    uint8_t payload[kMaxStepPayload];
    ASSERT_EQ(kBlockSize, stepPayload(db, 2, payload));   // block 1
    std::vector<uint8_t> want(image.begin() + 10 + 128, image.end());   // 72 bytes and the trailer
    want.resize(kBlockSize, 0);
    EXPECT_EQ(want, std::vector<uint8_t>(payload, payload + kBlockSize));
}

TEST(StepPlan, BlockStartingPastTheImageIsAllZeros)
{
    std::vector<uint8_t> image = imageWith(128, 0);   // the database fills the file
    DatabaseView db = viewOf(image, 128, 0);
    uint8_t block[kBlockSize];
    std::memset(block, 0xAA, sizeof block);
    copyDataBlock(db, 5, block);
    EXPECT_EQ(std::vector<uint8_t>(kBlockSize, 0), std::vector<uint8_t>(block, block + kBlockSize));
}

std::vector<uint8_t> versionAnswer(const std::string &text)
{
    std::vector<uint8_t> answer{kAck};
    uint8_t frame[kMaxFrameSize];
    size_t n = buildFrame(text.data(), text.size(), frame);
    answer.insert(answer.end(), frame, frame + n);
    return answer;
}

TEST(VersionAnswerAssembly, PiecesAreJoinedUntilTheAnnouncedFrameIsIn)
{
    std::vector<uint8_t> bytes = versionAnswer("KPLX Meter V2.10");
    VersionAnswer a;
    for (size_t at = 0; at < bytes.size(); at += 5) {
        ASSERT_TRUE(a.wantsMore()) << at;
        a.add(bytes.data() + at, std::min<size_t>(5, bytes.size() - at));
    }
    EXPECT_FALSE(a.wantsMore());   // 20 bytes in four reads: done before the fifth
    char text[VersionAnswer::kTextSize];
    ASSERT_EQ(16, a.text(text, sizeof text));
    EXPECT_STREQ("KPLX Meter V2.10", text);
}

TEST(VersionAnswerAssembly, NakOrAFailedReadEndsItWithoutAVersion)
{
    const uint8_t nak = kNak;
    VersionAnswer refused;
    refused.add(&nak, 1);
    EXPECT_FALSE(refused.wantsMore());
    char text[VersionAnswer::kTextSize];
    EXPECT_EQ(-1, refused.text(text, sizeof text));

    std::vector<uint8_t> bytes = versionAnswer("V1");
    VersionAnswer broken;
    broken.add(bytes.data(), 3);
    broken.fail();
    EXPECT_FALSE(broken.wantsMore());
    EXPECT_EQ(-1, broken.text(text, sizeof text));
}

TEST(Identity, EachDeviationHasItsOwnBit)
{
    EepromFields meter{0, 0, 1, 0, 0, kMeterCbus4, kMeterDescription};
    ASSERT_EQ(0u, identityDeviations(meter));
    EepromFields cable{1, 1, 0, 1, 1, 1, "FT232R USB UART"};
    EXPECT_EQ(unsigned{kPnp | kSelfPowered | kDtrNotInverted | kRxdInverted | kTxdInverted | kCbus4 | kDescription},
              identityDeviations(cable));
}

}  // namespace
