#include "engine/settings/overrides.h"

#include "engine/settings/output_types.h"

namespace kestrel {

namespace {

// True when `v` is given and outside lo..hi.
bool outside(const std::optional<int>& v, int lo, int hi) {
    return v && (*v < lo || *v > hi);
}

} // namespace

OverrideProblem checkOverrides(const SettingsOverrides& o) {
    if (o.outputType && outputTypeName(*o.outputType)[0] == '\0')
        return OverrideProblem::OutputType;
    if (outside(o.saveMode, 0, 1)) return OverrideProblem::SaveMode;
    if (outside(o.conversionMode, 0, 2)) return OverrideProblem::ConversionMode;
    if (o.sampleRate && versionOfRate(*o.sampleRate) < 0) return OverrideProblem::SampleRate;
    if (outside(o.vbrQuality, 0, 9)) return OverrideProblem::VbrQuality;
    if (outside(o.vbrMinKbps, 8, 160)) return OverrideProblem::VbrMin;
    if (outside(o.vbrMaxKbps, 8, 320)) return OverrideProblem::VbrMax;
    if (outside(o.abrKbps, 80, 320)) return OverrideProblem::Abr;
    if (outside(o.monoMode, 0, 2)) return OverrideProblem::MonoMode;
    if (o.cbrKbps.has_value() + o.vbrQuality.has_value() + o.abrKbps.has_value() > 1)
        return OverrideProblem::RateModes;
    if ((o.vbrMinKbps || o.vbrMaxKbps) && !o.vbrQuality) return OverrideProblem::MinMaxWithoutVbr;
    return OverrideProblem::None;
}

OverrideProblem applyOverrides(Settings& settingsOut, const SettingsOverrides& o) {
    OverrideProblem p = checkOverrides(o);
    if (p != OverrideProblem::None) return p;
    Settings s = settingsOut;
    if (o.outputType) s.output_type = *o.outputType;
    if (o.saveMode) s.save_mode = *o.saveMode;
    if (o.conversionMode) s.conversion_mode = *o.conversionMode;
    if (o.sampleRate) {
        s.mp3_sample_rate = *o.sampleRate;
        s.mp3_version = versionOfRate(*o.sampleRate);
    }
    if (o.cbrKbps) {
        if (!isLayer3Rate(s.mp3_version, *o.cbrKbps)) return OverrideProblem::CbrNotLayer3;
        s.mp3_rate_mode = 0;
        s.mp3_cbr_kbps = *o.cbrKbps;
    } else if (!isLayer3Rate(s.mp3_version, s.mp3_cbr_kbps)) {
        s.mp3_cbr_kbps = s.mp3_version == 0 ? 128 : 64;
    }
    if (o.vbrQuality) {
        s.mp3_rate_mode = 1;
        s.mp3_vbr_quality = *o.vbrQuality;
        if (o.vbrMinKbps) s.mp3_vbr_min_kbps = *o.vbrMinKbps;
        if (o.vbrMaxKbps) s.mp3_vbr_max_kbps = *o.vbrMaxKbps;
    }
    if (o.abrKbps) {
        s.mp3_rate_mode = 2;
        s.mp3_abr_kbps = *o.abrKbps;
    }
    if (o.monoMode) {
        s.mp3_channels = 1;
        s.mp3_mono_mode = *o.monoMode;
    }
    if (!o.savePath.empty()) {
        s.save_path = o.savePath;
        if (s.save_path.back() != '/') s.save_path += '/';
    }
    settingsOut = s;
    return OverrideProblem::None;
}

} // namespace kestrel
