// Settings given for one run (the command line's options, a page's apply) are
// checked and applied by the engine: ranges, exclusive bit-rate modes, the
// bit rate's fit to the MPEG version of the chosen rate, and nothing changes
// when a check fails.
#include "engine/settings/output_types.h"
#include "engine/settings/overrides.h"

#include <gtest/gtest.h>

using namespace kestrel;

TEST(OutputTypes, NamesFollowTheTypeNumbers) {
    EXPECT_EQ(outputTypeNames(), "mp3 exe wav wma aac adts m4a amr flv avi");
    for (int t = 0; t <= kOutAvi; ++t)
        EXPECT_EQ(outputTypeOfName(outputTypeName(t)), t);
    EXPECT_EQ(outputTypeOfName("adts"), kOutAdts);
    EXPECT_EQ(outputTypeOfName("MP3"), -1);
    EXPECT_EQ(outputTypeOfName(""), -1);
    EXPECT_STREQ(outputTypeName(10), "");
    EXPECT_STREQ(outputTypeName(-1), "");
}

TEST(Overrides, ChecksEachRangeAndCombination) {
    auto problem = [](auto set) {
        SettingsOverrides o;
        set(o);
        return checkOverrides(o);
    };
    using P = OverrideProblem;
    EXPECT_EQ(problem([](auto&) {}), P::None);
    EXPECT_EQ(problem([](auto& o) { o.outputType = 10; }), P::OutputType);
    EXPECT_EQ(problem([](auto& o) { o.saveMode = 2; }), P::SaveMode);
    EXPECT_EQ(problem([](auto& o) { o.conversionMode = 3; }), P::ConversionMode);
    EXPECT_EQ(problem([](auto& o) { o.sampleRate = 12345; }), P::SampleRate);
    EXPECT_EQ(problem([](auto& o) { o.sampleRate = 0; }), P::SampleRate);
    EXPECT_EQ(problem([](auto& o) { o.vbrQuality = 10; }), P::VbrQuality);
    EXPECT_EQ(problem([](auto& o) { o.vbrQuality = -1; }), P::VbrQuality);
    EXPECT_EQ(problem([](auto& o) { o.vbrQuality = 2, o.vbrMinKbps = 7; }), P::VbrMin);
    EXPECT_EQ(problem([](auto& o) { o.vbrQuality = 2, o.vbrMinKbps = -1; }), P::VbrMin);
    EXPECT_EQ(problem([](auto& o) { o.vbrQuality = 2, o.vbrMaxKbps = 321; }), P::VbrMax);
    EXPECT_EQ(problem([](auto& o) { o.abrKbps = 79; }), P::Abr);
    EXPECT_EQ(problem([](auto& o) { o.monoMode = 3; }), P::MonoMode);
    EXPECT_EQ(problem([](auto& o) { o.cbrKbps = 128, o.abrKbps = 128; }), P::RateModes);
    EXPECT_EQ(problem([](auto& o) { o.vbrMaxKbps = 128; }), P::MinMaxWithoutVbr);
    EXPECT_EQ(problem([](auto& o) { o.vbrQuality = 0, o.vbrMinKbps = 8, o.vbrMaxKbps = 320; }),
              P::None);
}

TEST(Overrides, ApplyPicksTheVersionOfTheRateAndKeepsTheBitRateValid) {
    Settings s;
    s.mp3_version = 0;
    s.mp3_cbr_kbps = 320;
    SettingsOverrides o;
    o.sampleRate = 22050; // MPEG-2: 320 kbit/s is not one of its rates
    o.outputType = kOutMp3;
    o.monoMode = 1;
    o.savePath = "/out";
    ASSERT_EQ(applyOverrides(s, o), OverrideProblem::None);
    EXPECT_EQ(s.mp3_sample_rate, 22050);
    EXPECT_EQ(s.mp3_version, 1);
    EXPECT_EQ(s.mp3_cbr_kbps, 64);
    EXPECT_EQ(s.output_type, kOutMp3);
    EXPECT_EQ(s.mp3_channels, 1);
    EXPECT_EQ(s.mp3_mono_mode, 1);
    EXPECT_EQ(s.save_path, "/out/");

    SettingsOverrides v;
    v.vbrQuality = 3;
    v.vbrMinKbps = 16;
    ASSERT_EQ(applyOverrides(s, v), OverrideProblem::None);
    EXPECT_EQ(s.mp3_rate_mode, 1);
    EXPECT_EQ(s.mp3_vbr_quality, 3);
    EXPECT_EQ(s.mp3_vbr_min_kbps, 16);
}

// A bit rate the version does not have is refused, a negative one too (it
// was once taken for "not given"), and the settings stay as they were.
TEST(Overrides, ABitRateOutsideTheVersionChangesNothing) {
    Settings s;
    s.output_type = kOutWav;
    for (int kbps : {320, -5}) {
        SettingsOverrides o;
        o.sampleRate = 16000;
        o.cbrKbps = kbps;
        o.outputType = kOutMp3;
        EXPECT_EQ(applyOverrides(s, o), OverrideProblem::CbrNotLayer3) << kbps;
        EXPECT_EQ(s.output_type, kOutWav);
        EXPECT_EQ(s.mp3_sample_rate, 44100);
    }
    SettingsOverrides ok;
    ok.sampleRate = 16000;
    ok.cbrKbps = 160;
    ASSERT_EQ(applyOverrides(s, ok), OverrideProblem::None);
    EXPECT_EQ(s.mp3_rate_mode, 0);
    EXPECT_EQ(s.mp3_cbr_kbps, 160);
}
