#include "replaygain.h"

#include <algorithm>
#include <cmath>

namespace mp3enc {

namespace {

// The filters of each sampling rate: the equal-loudness filter's b0..b10 and
// a1..a10, the high-pass filter's b0..b2 and a1, a2.
struct FilterSet {
    int rate;
    float b[11], a[10];
    float hb[3], ha[2];
};

constexpr FilterSet kFilters[] = {
    {48000,
     {0.03857599435200f, -0.02160367184185f, -0.00123395316851f, -0.00009291677959f,
      -0.01655260341619f, 0.02161526843274f, -0.02074045215285f, 0.00594298065125f,
      0.00306428023191f, 0.00012025322027f, 0.00288463683916f},
     {-3.84664617118067f, 7.81501653005538f, -11.34170355132042f, 13.05504219327545f,
      -12.28759895145294f, 9.48293806319790f, -5.87257861775999f, 2.75465861874613f,
      -0.86984376593551f, 0.13919314567432f},
     {0.98621192462708f, -1.97242384925416f, 0.98621192462708f},
     {-1.97223372919527f, 0.97261396931306f}},
    {44100,
     {0.05418656406430f, -0.02911007808948f, -0.00848709379851f, -0.00851165645469f,
      -0.00834990904936f, 0.02245293253339f, -0.02596338512915f, 0.01624864962975f,
      -0.00240879051584f, 0.00674613682247f, -0.00187763777362f},
     {-3.47845948550071f, 6.36317777566148f, -8.54751527471874f, 9.47693607801280f,
      -8.81498681370155f, 6.85401540936998f, -4.39470996079559f, 2.19611684890774f,
      -0.75104302451432f, 0.13149317958808f},
     {0.98500175787242f, -1.97000351574484f, 0.98500175787242f},
     {-1.96977855582618f, 0.97022847566350f}},
    {32000,
     {0.15457299681924f, -0.09331049056315f, -0.06247880153653f, 0.02163541888798f,
      -0.05588393329856f, 0.04781476674921f, 0.00222312597743f, 0.03174092540049f,
      -0.01390589421898f, 0.00651420667831f, -0.00881362733839f},
     {-2.37898834973084f, 2.84868151156327f, -2.64577170229825f, 2.23697657451713f,
      -1.67148153367602f, 1.00595954808547f, -0.45953458054983f, 0.16378164858596f,
      -0.05032077717131f, 0.02347897407020f},
     {0.97938932735214f, -1.95877865470428f, 0.97938932735214f},
     {-1.95835380975398f, 0.95920349965459f}},
    {24000,
     {0.30296907319327f, -0.22613988682123f, -0.08587323730772f, 0.03282930172664f,
      -0.00915702933434f, -0.02364141202522f, -0.00584456039913f, 0.06276101321749f,
      -0.00000828086748f, 0.00205861885564f, -0.02950134983287f},
     {-1.61273165137247f, 1.07977492259970f, -0.25656257754070f, -0.16276719120440f,
      -0.22638893773906f, 0.39120800788284f, -0.22138138954925f, 0.04500235387352f,
      0.02005851806501f, 0.00302439095741f},
     {0.97531843204928f, -1.95063686409857f, 0.97531843204928f},
     {-1.95002759149878f, 0.95124613669835f}},
    {22050,
     {0.33642304856132f, -0.25572241425570f, -0.11828570177555f, 0.11921148675203f,
      -0.07834489609479f, -0.00469977914380f, -0.00589500224440f, 0.05724228140351f,
      0.00832043980773f, -0.01635381384540f, -0.01760176568150f},
     {-1.49858979367799f, 0.87350271418188f, 0.12205022308084f, -0.80774944671438f,
      0.47854794562326f, -0.12453458140019f, -0.04067510197014f, 0.08333755284107f,
      -0.04237348025746f, 0.02977207319925f},
     {0.97316523498161f, -1.94633046996323f, 0.97316523498161f},
     {-1.94561023566527f, 0.94705070426118f}},
    {16000,
     {0.44915256608450f, -0.14351757464547f, -0.22784394429749f, -0.01419140100551f,
      0.04078262797139f, -0.12398163381748f, 0.04097565135648f, 0.10478503600251f,
      -0.01863887810927f, -0.03193428438915f, 0.00541907748707f},
     {-0.62820619233671f, 0.29661783706366f, -0.37256372942400f, 0.00213767857124f,
      -0.42029820170918f, 0.22199650564824f, 0.00613424350682f, 0.06747620744683f,
      0.05784820375801f, 0.03222754072173f},
     {0.96454515552826f, -1.92909031105652f, 0.96454515552826f},
     {-1.92783286977036f, 0.93034775234268f}},
    {12000,
     {0.56619470757641f, -0.75464456939302f, 0.16242137742230f, 0.16744243493672f,
      -0.18901604199609f, 0.30931782841830f, -0.27562961986224f, 0.00647310677246f,
      0.08647503780351f, -0.03788984554840f, -0.00588215443421f},
     {-1.04800335126349f, 0.29156311971249f, -0.26806001042947f, 0.00819999645858f,
      0.45054734505008f, -0.33032403314006f, 0.06739368333110f, -0.04784254229033f,
      0.01639907836189f, 0.01807364323573f},
     {0.96009142950541f, -1.92018285901082f, 0.96009142950541f},
     {-1.91858953033784f, 0.92177618768381f}},
    {11025,
     {0.58100494960553f, -0.53174909058578f, -0.14289799034253f, 0.17520704835522f,
      0.02377945217615f, 0.15558449135573f, -0.25344790059353f, 0.01628462406333f,
      0.06920467763959f, -0.03721611395801f, -0.00749618797172f},
     {-0.51035327095184f, -0.31863563325245f, -0.20256413484477f, 0.14728154134330f,
      0.38952639978999f, -0.23313271880868f, -0.05246019024463f, -0.02505961724053f,
      0.02442357316099f, 0.01818801111503f},
     {0.95856916599601f, -1.91713833199203f, 0.95856916599601f},
     {-1.91542108074780f, 0.91885558323625f}},
    {8000,
     {0.53648789255105f, -0.42163034350696f, -0.00275953611929f, 0.04267842219415f,
      -0.10214864179676f, 0.14590772289388f, -0.02459864859345f, -0.11202315195388f,
      -0.04060034127000f, 0.04788665548180f, -0.02217936801134f},
     {-0.25049871956020f, -0.43193942311114f, -0.03424681017675f, -0.04678328784242f,
      0.26408300200955f, 0.15113130533216f, -0.17556493366449f, -0.18823009262115f,
      0.05477720428674f, 0.04704409688120f},
     {0.94597685600279f, -1.89195371200558f, 0.94597685600279f},
     {-1.88903307939452f, 0.89487434461664f}},
};

constexpr int kOrder = 10;            // history kept in front of each chunk
constexpr int kChunk = 4096;          // sample frames filtered at a time
constexpr int kSteps = 100;           // histogram steps per dB
constexpr int kLevels = 120 * kSteps; // 0 .. 120 dB
constexpr float kReference = 64.82f;  // the level of pink noise at 89 dB

} // namespace

GainAnalysis::GainAnalysis(int rate, int channels, float scaleLeft, float scaleRight)
    : channels_(channels == 1 ? 1 : 2), scale_{scaleLeft, scaleRight} {
    for (size_t i = 0; i < std::size(kFilters); ++i)
        if (kFilters[i].rate == rate) table_ = static_cast<int>(i);
    blockSize_ = (rate + 19) / 20;
    levels_.assign(kLevels, 0);
    for (Channel& c : ch_) {
        c.x.assign(kOrder + kChunk, 0.f);
        c.y.assign(kOrder + kChunk, 0.f);
        c.h.assign(kOrder + kChunk, 0.f);
    }
}

void GainAnalysis::add(const short* pcm, int64_t frames) {
    while (frames > 0) {
        const int n = static_cast<int>(std::min<int64_t>(frames, kChunk));
        for (int c = 0; c < channels_; ++c) {
            float* x = ch_[c].x.data() + kOrder;
            for (int i = 0; i < n; ++i)
                x[i] = float(pcm[i * channels_ + c]) * scale_[c];
        }
        run(n);
        pcm += static_cast<int64_t>(n) * channels_;
        frames -= n;
    }
}

void GainAnalysis::addSilence(int64_t frames) {
    while (frames > 0) {
        const int n = static_cast<int>(std::min<int64_t>(frames, kChunk));
        for (int c = 0; c < channels_; ++c)
            std::fill_n(ch_[c].x.data() + kOrder, n, 0.f);
        run(n);
        frames -= n;
    }
}

void GainAnalysis::run(int n) {
    if (table_ < 0) return;
    const FilterSet& f = kFilters[table_];
    for (int c = 0; c < channels_; ++c) {
        const float* x = ch_[c].x.data() + kOrder;
        float* y = ch_[c].y.data() + kOrder;
        float* h = ch_[c].h.data() + kOrder;
        // Summed in the order the encoder sums them, so that the levels come
        // out as its own to the last bit: the older terms first, in pairs and
        // fours.
        const float* b = f.b;
        const float* a = f.a;
        for (int i = 0; i < n; ++i) {
            const float* p = x + i;
            const float* q = y + i;
            const float in = (p[-10] * b[10] + p[-9] * b[9] + p[-8] * b[8] + p[-7] * b[7]) +
                             (p[-6] * b[6] + p[-5] * b[5] + p[-4] * b[4] + p[-3] * b[3]) +
                             (p[-2] * b[2] + p[-1] * b[1]) + p[0] * b[0];
            const float back = (q[-10] * a[9] + q[-9] * a[8]) + (q[-8] * a[7] + q[-7] * a[6]) +
                               (q[-6] * a[5] + q[-5] * a[4]) + (q[-4] * a[3] + q[-3] * a[2]) +
                               (q[-2] * a[1] + q[-1] * a[0]);
            y[i] = in - back;
            h[i] = (y[i - 2] * f.hb[2] + y[i - 1] * f.hb[1] + y[i] * f.hb[0]) -
                   (h[i - 2] * f.ha[1] + h[i - 1] * f.ha[0]);
        }
    }
    for (int i = 0; i < n; ++i) {
        for (int c = 0; c < channels_; ++c) {
            const double v = ch_[c].h[kOrder + i];
            sum_ += v * v;
        }
        if (++inBlock_ == blockSize_) {
            // The mean square over the block and its channels, in 0.01 dB
            // steps.
            const double level =
                kSteps * 10. * std::log10(sum_ / double(blockSize_ * channels_) + 1e-37);
            const int at = level <= 0 ? 0 : static_cast<int>(std::min<double>(level, kLevels - 1));
            ++levels_[static_cast<size_t>(at)];
            sum_ = 0;
            inBlock_ = 0;
        }
    }
    for (Channel& c : ch_) {
        std::copy_n(c.x.data() + n, kOrder, c.x.data());
        std::copy_n(c.y.data() + n, kOrder, c.y.data());
        std::copy_n(c.h.data() + n, kOrder, c.h.data());
    }
}

int GainAnalysis::radioGainTenths() const {
    uint64_t blocks = 0;
    for (uint32_t v : levels_)
        blocks += v;
    if (blocks == 0) return 0;
    // The level that 5 % of the blocks reach, counted from the loudest (1 -
    // 0.95 is a hair over 0.05 in doubles, as in the encoder: 20 blocks make
    // the second loudest the one).
    const auto upper = static_cast<uint64_t>(std::ceil(double(blocks) * (1. - 0.95)));
    uint64_t seen = 0;
    int at = kLevels - 1;
    for (; at > 0; --at) {
        seen += levels_[static_cast<size_t>(at)];
        if (seen >= upper) break;
    }
    const float gain = kReference - float(at) / float(kSteps);
    return static_cast<int>(std::floor(gain * 10.0 + 0.5));
}

} // namespace mp3enc
