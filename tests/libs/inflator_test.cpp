// inflator.so through its export: a zlib stream made by perl's Compress::Zlib,
// and every way a buffer can be wrong.
#include "engine/core/captions.h"
#include "engine/libraries/lib_inflator.h"
#include "platform/paths.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <vector>

using namespace kestrel;
using kestrel::test::fixture;
using kestrel::test::readFile;

namespace {

class InflatorLib : public ::testing::Test {
  protected:
    void SetUp() override {
        setLibraryFolder(KESTREL_BIN_DIR);
        ASSERT_EQ(loadInflator(), 0) << messages.lastText();
        packed = readFile(fixture("libcodec_text.zlib"));
        text = readFile(fixture("libcodec_text.txt"));
        ASSERT_GT(packed.size(), 100u);
    }
    void TearDown() override { unloadInflator(); }

    int run(const std::vector<uint8_t>& in, std::vector<uint8_t>& out, unsigned long* len) {
        return inflator.uncompress(out.data(), len, in.data(), in.size());
    }

    kestrel::test::RecordingMessages messages;
    std::vector<uint8_t> packed, text;
};

} // namespace

TEST_F(InflatorLib, UnpacksAWholeStream) {
    std::vector<uint8_t> out(text.size() + 100);
    unsigned long len = out.size();
    EXPECT_EQ(run(packed, out, &len), INFLATOR_OK);
    ASSERT_EQ(len, text.size());
    out.resize(len);
    EXPECT_EQ(out, text);

    std::vector<uint8_t> exact(text.size());
    len = exact.size();
    EXPECT_EQ(run(packed, exact, &len), INFLATOR_OK);
    EXPECT_EQ(exact, text);
}

TEST_F(InflatorLib, ReportsShortRoomCutAndDamagedStreams) {
    std::vector<uint8_t> out(text.size());
    unsigned long len = text.size() - 1;
    EXPECT_EQ(run(packed, out, &len), INFLATOR_BUF_ERROR);
    EXPECT_EQ(len, text.size() - 1); // filled up to the room given, no further

    std::vector<uint8_t> cut(packed.begin(), packed.begin() + packed.size() / 2);
    len = out.size();
    EXPECT_EQ(run(cut, out, &len), INFLATOR_BUF_ERROR);
    EXPECT_LT(len, text.size());

    auto badSum = packed;
    badSum.back() ^= 0x01; // Adler-32 at the end
    len = out.size();
    EXPECT_EQ(run(badSum, out, &len), INFLATOR_DATA_ERROR);

    auto badHeader = packed;
    badHeader[0] = 0x79;
    len = out.size();
    EXPECT_EQ(run(badHeader, out, &len), INFLATOR_DATA_ERROR);

    std::vector<uint8_t> empty;
    len = out.size();
    EXPECT_EQ(run(empty, out, &len), INFLATOR_BUF_ERROR);
    EXPECT_EQ(inflator.uncompress(out.data(), nullptr, packed.data(), packed.size()),
              INFLATOR_DATA_ERROR);
    len = 10;
    EXPECT_EQ(inflator.uncompress(nullptr, &len, packed.data(), packed.size()),
              INFLATOR_DATA_ERROR);
}

TEST(InflatorLoader, ShowsItsOwnMessageWhenTheLibraryIsMissing) {
    kestrel::test::RecordingMessages messages;
    kestrel::test::TempDir empty;
    setLibraryFolder(empty.path());
    EXPECT_LT(loadInflator(), 0);
    ASSERT_EQ(messages.entries().size(), 1u);
    EXPECT_EQ(messages.entries()[0].text, "load inflator.so error");
    EXPECT_EQ(inflator.uncompress, nullptr);
    setLibraryFolder(KESTREL_BIN_DIR);
}
