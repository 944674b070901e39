// orvoamrenc.so through its exports: ring tones at every mode, checked frame by
// frame and read back by ffprobe.
#include "engine/libraries/lib_orvoamrenc.h"
#include "platform/paths.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace kestrel;
using kestrel::test::capture;
using kestrel::test::fixture;
using kestrel::test::readFile;

namespace {

const int kBody[16] = {12, 13, 15, 17, 19, 20, 26, 31, 5, 0, 0, 0, 0, 0, 0, 0};

// Frame types of the frames after the magic; false when the file does not
// split into whole frames.
bool frameTypes(const std::vector<uint8_t>& file, std::vector<int>* types) {
    size_t pos = 6;
    while (pos < file.size()) {
        int ft = (file[pos] >> 3) & 15;
        types->push_back(ft);
        pos += 1 + kBody[ft];
    }
    return pos == file.size();
}

class OrvoAmrEncLib : public ::testing::Test {
  protected:
    void SetUp() override {
        setLibraryFolder(KESTREL_BIN_DIR);
        ASSERT_EQ(loadOrvoamrenc(), 0) << messages.lastText();
    }
    void TearDown() override { unloadOrvoamrenc(); }
    kestrel::test::RecordingMessages messages;
    kestrel::test::TempDir dir;
};

} // namespace

TEST_F(OrvoAmrEncLib, WritesRingTonesAtEveryMode) {
    const int modes[8] = {475, 515, 59, 67, 74, 795, 102, 122};
    const auto pcm = readFile(fixture("libcodec_src_8000_1ch.s16")); // 3 s
    ASSERT_EQ(pcm.size(), 48000u);
    for (int i = 0; i < 8; ++i) {
        SCOPED_TRACE(modes[i]);
        std::string path = dir.file("mode" + std::to_string(modes[i]) + ".amr");
        ASSERT_EQ(orvoamrenc.amr_init(modes[i], path.c_str()), 0);
        // Pieces that cut frames anywhere, odd lengths included.
        auto copy = pcm;
        size_t pos = 0, step = 777;
        while (pos < copy.size()) {
            size_t n = std::min(step, copy.size() - pos);
            ASSERT_GE(orvoamrenc.amr_encode(&copy[pos], int(n)), 0);
            pos += n;
            step = step == 777 ? 4096 : 777;
        }
        EXPECT_EQ(copy, pcm); // the caller's PCM is left as it was
        ASSERT_EQ(orvoamrenc.amr_close(), 0);

        auto file = readFile(path);
        ASSERT_GE(file.size(), 6u);
        EXPECT_EQ(std::string(file.begin(), file.begin() + 6), "#!AMR\n");
        std::vector<int> types;
        EXPECT_TRUE(frameTypes(file, &types));
        EXPECT_EQ(types.size(), 150u); // 20 ms a frame
        for (int t : types)
            EXPECT_EQ(t, i);

        // ffprobe guesses an AMR file's duration from its bit rate: count the
        // frames it reads instead (20 ms each).
        std::string probe = capture("ffprobe -v error -count_packets -show_entries "
                                    "stream=codec_name,sample_rate,channels,nb_read_packets "
                                    "-of default=nw=1 '" +
                                    path + "'");
        EXPECT_NE(probe.find("codec_name=amr_nb"), std::string::npos) << probe;
        EXPECT_NE(probe.find("sample_rate=8000"), std::string::npos) << probe;
        EXPECT_NE(probe.find("channels=1"), std::string::npos) << probe;
        EXPECT_NE(probe.find("nb_read_packets=150"), std::string::npos) << probe;
    }
}

TEST_F(OrvoAmrEncLib, PadsTheLastPartialFrameAndRefusesBadCalls) {
    std::string path = dir.file("tail.amr");
    ASSERT_EQ(orvoamrenc.amr_init(122, path.c_str()), 0);
    std::vector<uint8_t> pcm(320 * 2 + 100, 0x10);
    EXPECT_EQ(orvoamrenc.amr_encode(pcm.data(), int(pcm.size())), 2 * 32);
    EXPECT_EQ(orvoamrenc.amr_close(), 0);
    EXPECT_EQ(readFile(path).size(), 6u + 3 * 32);

    EXPECT_EQ(orvoamrenc.amr_close(), -1);
    EXPECT_EQ(orvoamrenc.amr_encode(pcm.data(), 320), -1);
    EXPECT_EQ(orvoamrenc.amr_init(123, path.c_str()), -1);
    EXPECT_EQ(orvoamrenc.amr_init(122, nullptr), -1);
    EXPECT_EQ(orvoamrenc.amr_init(122, dir.file("missing/x.amr").c_str()), -2);
}
