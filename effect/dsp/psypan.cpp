#include "effect/dsp/psypan.h"

#include <emmintrin.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

#include "effect/dsp/rest.h"
#include "effect/dsp/stereobiquads.h"
#include "tessary/dsp/iir.h"

namespace velmora {

namespace {
constexpr double kHalfPi = 1.5707963267948966;
constexpr double kQuarterPi = 0.7853981633974483;
constexpr double kMaxInterauralDelaySeconds = 0.000653;  // at head size 100 %
constexpr float kBaseDelay = static_cast<float>(PsychoacousticPanner::kBaseDelaySamples);
constexpr float kDelayReserveSeconds = 0.002f;
constexpr double kShelfCornerRadPerSecond = 25333.803158548093;  // 2 pi x 4032 Hz
constexpr double kShelfAlphaDivisor = 1.04;                      // 2Q, Q = 0.52
constexpr double kFarShelfDb = -11.25;
constexpr double kNearShelfDb = 3.0;
constexpr float kLevelDifferenceDb = 7.95f;
constexpr float kDbToNeper = 0.115129255f;  // ln(10) / 20
constexpr float kSqrt2 = 1.4142135f;
}  // namespace

void PsychoacousticPanner::reset(float rate, std::int32_t maxFrames) noexcept {
    sampleRate = rate;
    // Room for the largest inter-aural delay plus one whole block, which is fed before it is read.
    const float reserve = std::max(std::min(kDelayReserveSeconds * rate, 1.0e9f), 0.0f);  // inside int32
    const std::int64_t length =
        static_cast<std::int64_t>(static_cast<std::int32_t>(reserve)) + std::max<std::int32_t>(maxFrames, 0);
    const std::int32_t clamped =
        static_cast<std::int32_t>(std::min<std::int64_t>(length, std::numeric_limits<std::int32_t>::max()));
    delayLeft.resize(clamped);
    delayRight.resize(clamped);
    restart();
}

void PsychoacousticPanner::restart() noexcept {
    const float rate = sampleRate;
    delayLeft.clear();
    delayRight.clear();
    delaySmootherLeft.initialise(2.0f, 0.05f, rate);
    delaySmootherRight.initialise(2.0f, 0.05f, rate);
    gainSmootherLeft.initialise(0.5f, 0.04f, rate);
    gainSmootherRight.initialise(0.5f, 0.04f, rate);
    shelfLeft.initialise(rate);
    shelfRight.initialise(rate);
    lastDelayTargetLeft = lastDelayTargetRight = kBaseDelay;
    lastGainTargetLeft = lastGainTargetRight = 0.5f;
    designs.haveDelay = designs.haveShelf = designs.haveGain = designs.haveLevel = false;
    shelfCorner = tessary::shelfCorner(kShelfCornerRadPerSecond, kShelfAlphaDivisor, rate);
}

void PsychoacousticPanner::shelfGainsDb(float p, float spectralPan, double& leftDb,
                                        double& rightDb) noexcept {
    leftDb =
        static_cast<double>(p) * (p < 0.0f ? -kNearShelfDb : kFarShelfDb) * static_cast<double>(spectralPan);
    rightDb =
        (p < 0.0f ? -kFarShelfDb : kNearShelfDb) * static_cast<double>(p) * static_cast<double>(spectralPan);
}

void PsychoacousticPanner::delayTargets(float p, float headSize, float& left, float& right) const noexcept {
    // cos((p - 1) pi/2) = sin(p pi/2): +1 full right, -1 full left.
    const float itd =
        static_cast<float>(static_cast<double>(headSize) *
                           (std::cos((static_cast<double>(p) - 1.0) * kHalfPi) * kMaxInterauralDelaySeconds));
    const float offsetLeft = (itd * 0.5f) * sampleRate;
    const float offsetRight = (itd * -0.5f) * sampleRate;
    const float m = std::min(offsetLeft, offsetRight);
    // Whole-sample targets (trunc in float avoids an out-of-range integer conversion).
    left = std::trunc(offsetLeft + 0.5f - m) + kBaseDelay;
    right = std::trunc(offsetRight + 0.5f - m) + kBaseDelay;
}

void PsychoacousticPanner::shelfTargets(float p, float spectralPan, korvo::BiquadCoeffs& left,
                                        korvo::BiquadCoeffs& right) const noexcept {
    double gainLeftDb = 0.0, gainRightDb = 0.0;
    shelfGainsDb(p, spectralPan, gainLeftDb, gainRightDb);
    left = gainLeftDb != 0.0f ? tessary::designHighShelf(shelfCorner, gainLeftDb)
                              : korvo::BiquadCoeffs::identity();
    right = gainRightDb != 0.0f ? tessary::designHighShelf(shelfCorner, gainRightDb)
                                : korvo::BiquadCoeffs::identity();
}

void PsychoacousticPanner::gainTargets(float p, float levelPan, float gain, float& left,
                                       float& right) noexcept {
    const auto levelKey = std::bit_cast<std::uint32_t>(levelPan);
    if (!designs.haveLevel || levelKey != designs.levelKey) {
        const float k = std::exp(levelPan * kLevelDifferenceDb * kDbToNeper);
        designs.levelF = kSqrt2 / (k - 1.0f + kSqrt2);
        designs.levelE = (1.0f - designs.levelF) * kSqrt2;
        designs.levelKey = levelKey;
        designs.haveLevel = true;
    }
    const float f = designs.levelF, e = designs.levelE;
    const double cosLeft = std::cos(static_cast<double>(p + 1.0f) * kQuarterPi);
    const double cosRight = std::cos(static_cast<double>(p - 1.0f) * kQuarterPi);
    left = static_cast<float>(cosLeft * e + f) * gain;
    right = static_cast<float>(cosRight * e + f) * gain;
}

void PsychoacousticPanner::settle(float pan, float headSize, float spectralPan, float levelPan,
                                  float gain) noexcept {
    const float p = std::max(std::min(pan, 1.0f), -1.0f);
    delayTargets(p, headSize, lastDelayTargetLeft, lastDelayTargetRight);
    runToRest(delaySmootherLeft, lastDelayTargetLeft);
    runToRest(delaySmootherRight, lastDelayTargetRight);
    gainTargets(p, levelPan, gain, lastGainTargetLeft, lastGainTargetRight);
    runToRest(gainSmootherLeft, lastGainTargetLeft);
    runToRest(gainSmootherRight, lastGainTargetRight);
    korvo::BiquadCoeffs left, right;
    shelfTargets(p, spectralPan, left, right);
    shelfLeft.settle(left);
    shelfRight.settle(right);
}

namespace {

// One piece of the delay and gain glides, side by side: delays[i] = the glided delay + (lastBack - i),
// gains[i] = the glided gain. kPlain: every glide steps plainly (see ExpSmoother::stepsPlainlyTo).
template <bool kPlain>
void gliding(bool delaysGlide, bool gainsGlide, korvo::ExpSmoother& delayL, korvo::ExpSmoother& delayR,
             korvo::ExpSmoother& gainL, korvo::ExpSmoother& gainR, float delayTargetL, float delayTargetR,
             float gainTargetL, float gainTargetR, std::int32_t lastBack, std::int32_t m, float* delaysL,
             float* delaysR, float* gainsL, float* gainsR) noexcept {
    // Local copies, kept in registers (stores to the arrays could otherwise be taken to touch them).
    korvo::ExpSmoother dl = delayL, dr = delayR, gl = gainL, gr = gainR;
    const auto step = [](korvo::ExpSmoother & s, float target) __attribute__((always_inline)) {
        return kPlain ? s.nextPlainStep(target) : s.nextSample(target);
    };
    if (delaysGlide && gainsGlide) {
        for (std::int32_t i = 0; i < m; ++i) {
            const auto back = static_cast<float>(lastBack - i);
            delaysL[i] = step(dl, delayTargetL) + back;
            delaysR[i] = step(dr, delayTargetR) + back;
            gainsL[i] = step(gl, gainTargetL);
            gainsR[i] = step(gr, gainTargetR);
        }
    } else if (delaysGlide) {
        for (std::int32_t i = 0; i < m; ++i) {
            const auto back = static_cast<float>(lastBack - i);
            delaysL[i] = step(dl, delayTargetL) + back;
            delaysR[i] = step(dr, delayTargetR) + back;
        }
    } else if (gainsGlide) {
        for (std::int32_t i = 0; i < m; ++i) {
            gainsL[i] = step(gl, gainTargetL);
            gainsR[i] = step(gr, gainTargetR);
        }
    }
    delayL = dl;
    delayR = dr;
    gainL = gl;
    gainR = gr;
}

// The four glides (left and right delay, left and right gain) in the lanes of one register, each
// lane stepping as ExpSmoother::nextPlainStep does (the same operations on the same floats), four
// frames at a time: the glides' dependent steps then cost a quarter of the instructions, which
// leaves room beside them for the reads' terms.
struct FourGlides {
    __m128 current, target, alpha;

    FourGlides(const korvo::ExpSmoother& dl, const korvo::ExpSmoother& dr, const korvo::ExpSmoother& gl,
               const korvo::ExpSmoother& gr, float tdl, float tdr, float tgl, float tgr) noexcept
        : current(_mm_setr_ps(dl.current, dr.current, gl.current, gr.current)),
          target(_mm_setr_ps(tdl, tdr, tgl, tgr)),
          alpha(_mm_setr_ps(dl.alpha, dr.alpha, gl.alpha, gr.alpha)) {}

    [[gnu::always_inline]] __m128 step() noexcept {
        current = _mm_add_ps(current, _mm_mul_ps(_mm_sub_ps(target, current), alpha));
        return current;
    }

    // Four frames: delays[i] = the glided delay + back[i], gains[i] = the glided gain.
    [[gnu::always_inline]] void step4(__m128 back, float* delaysL, float* delaysR, float* gainsL,
                                      float* gainsR) noexcept {
        const __m128 v0 = step(), v1 = step(), v2 = step(), v3 = step();
        // Frames to rows: left delays, right delays, left gains, right gains.
        const __m128 low01 = _mm_unpacklo_ps(v0, v1), low23 = _mm_unpacklo_ps(v2, v3);
        const __m128 high01 = _mm_unpackhi_ps(v0, v1), high23 = _mm_unpackhi_ps(v2, v3);
        _mm_storeu_ps(delaysL, _mm_add_ps(_mm_movelh_ps(low01, low23), back));
        _mm_storeu_ps(delaysR, _mm_add_ps(_mm_movehl_ps(low23, low01), back));
        _mm_storeu_ps(gainsL, _mm_movelh_ps(high01, high23));
        _mm_storeu_ps(gainsR, _mm_movehl_ps(high23, high01));
    }

    void storeInto(korvo::ExpSmoother& dl, korvo::ExpSmoother& dr, korvo::ExpSmoother& gl,
                   korvo::ExpSmoother& gr) const noexcept {
        alignas(16) float lanes[4];
        _mm_store_ps(lanes, current);
        dl.current = lanes[0];
        dr.current = lanes[1];
        gl.current = lanes[2];
        gr.current = lanes[3];
    }
};

// The distances from the block's end of a piece's first four frames: lastBack, lastBack - 1, ...
__m128i firstBacks(std::int32_t lastBack) noexcept {
    return _mm_sub_epi32(_mm_set1_epi32(lastBack), _mm_setr_epi32(0, 1, 2, 3));
}

}  // namespace

void PsychoacousticPanner::processBlock(float* left, float* right, float pan, float headSize,
                                        float spectralPan, float levelPan, float gain,
                                        std::int32_t frames) noexcept {
    const float p = std::max(std::min(pan, 1.0f), -1.0f);
    if (frames <= 0) return;  // nothing moves for an empty block
    const bool haveDelay = !delayLeft.isEmpty() && !delayRight.isEmpty();

    // Delay pan: the whole block goes into the history first, then each sample is read back at its
    // glided delay plus its distance from the block's end.
    if (haveDelay) {
        delayLeft.feedBlock(left, frames);
        delayRight.feedBlock(right, frames);
    }
    // The designs depend on nothing but their arguments and the rate: bit-identical arguments reuse
    // the last block's.
    const std::uint32_t pBits = std::bit_cast<std::uint32_t>(p);
    const std::uint32_t delayKey[2] = {pBits, std::bit_cast<std::uint32_t>(headSize)};
    if (!designs.haveDelay || !std::equal(delayKey, delayKey + 2, designs.delayKey)) {
        delayTargets(p, headSize, designs.delayLeft, designs.delayRight);
        std::copy(delayKey, delayKey + 2, designs.delayKey);
        designs.haveDelay = true;
    }
    const float delayTargetL = designs.delayLeft, delayTargetR = designs.delayRight;
    lastDelayTargetLeft = delayTargetL;
    lastDelayTargetRight = delayTargetR;
    // Spectral pan: head-shadow high shelves.
    const std::uint32_t shelfKey[2] = {pBits, std::bit_cast<std::uint32_t>(spectralPan)};
    if (!designs.haveShelf || !std::equal(shelfKey, shelfKey + 2, designs.shelfKey)) {
        shelfTargets(p, spectralPan, designs.shelfLeft, designs.shelfRight);
        std::copy(shelfKey, shelfKey + 2, designs.shelfKey);
        designs.haveShelf = true;
    }
    const korvo::BiquadCoeffs shelfL = designs.shelfLeft, shelfR = designs.shelfRight;
    // Level pan and output gain. The law is unity on both sides at the centre for every amount; at
    // full pan the near side gets e + f and the far side f, whose ratio is k.
    const std::uint32_t gainKey[3] = {pBits, std::bit_cast<std::uint32_t>(levelPan),
                                      std::bit_cast<std::uint32_t>(gain)};
    if (!designs.haveGain || !std::equal(gainKey, gainKey + 3, designs.gainKey)) {
        gainTargets(p, levelPan, gain, designs.gainLeft, designs.gainRight);
        std::copy(gainKey, gainKey + 3, designs.gainKey);
        designs.haveGain = true;
    }
    const float gainTargetL = designs.gainLeft, gainTargetR = designs.gainRight;
    lastGainTargetLeft = gainTargetL;
    lastGainTargetRight = gainTargetR;

    // Stalled delay glides give their current values for the whole block: no stepping. (A settled
    // pan spends most blocks so: this buys 21 % of the chain's time at default settings.)
    const bool delaysStalled =
        haveDelay && delaySmootherLeft.isStalled(delayTargetL) && delaySmootherRight.isStalled(delayTargetR);
    const bool delaysGlide = haveDelay && !delaysStalled;
    // Settled gains: the smoothers would return their current values for the whole block (15 to 20 %
    // of the chain's time with settled settings).
    const bool gainsGlide =
        !(gainSmootherLeft.isStalled(gainTargetL) && gainSmootherRight.isStalled(gainTargetR));

    // Glides without a snap on their way step without its tests (8 % of the chain's time while the
    // LFO moves the pan).
    const bool plainSteps = (!delaysGlide || (delaySmootherLeft.stepsPlainlyTo(delayTargetL) &&
                                              delaySmootherRight.stepsPlainlyTo(delayTargetR))) &&
                            (!gainsGlide || (gainSmootherLeft.stepsPlainlyTo(gainTargetL) &&
                                             gainSmootherRight.stepsPlainlyTo(gainTargetR)));

    // Pieces of kPieceFrames: the glides of delays and gains stepped side by side, the reads, the
    // shelves and the gains, all on data still in the cache.
    constexpr std::int32_t kPiece = kPieceFrames;
    for (std::int32_t start = 0; start < frames; start += kPiece) {
        const std::int32_t m = std::min(kPiece, frames - start);
        float* l = left + start;
        float* r = right + start;
        // Frame start + i lies (frames - 1 - start - i) samples before the newest history sample.
        const std::int32_t lastBack = frames - 1 - start;
        float delaysL[kPiece], delaysR[kPiece], gainsL[kPiece], gainsR[kPiece];
        // Every glide moving by plain steps, before interpolated reads (5 % of the chain's time while
        // the LFO moves the pan): the glides go four frames
        // at a time beside the reads' terms (below).
        const bool glidesWithTerms = haveDelay && delaysGlide && gainsGlide && plainSteps;
        if (!glidesWithTerms)
            (plainSteps ? gliding<true> : gliding<false>)(delaysGlide, gainsGlide, delaySmootherLeft,
                                                          delaySmootherRight, gainSmootherLeft,
                                                          gainSmootherRight, delayTargetL, delayTargetR,
                                                          gainTargetL, gainTargetR, lastBack, m, delaysL,
                                                          delaysR, gainsL, gainsR);

        if (haveDelay) {
            if (!delaysGlide) {
                const float currentL = delaySmootherLeft.current, currentR = delaySmootherRight.current;
                const __m128 cl = _mm_set1_ps(currentL), cr = _mm_set1_ps(currentR);
                __m128i backs = firstBacks(lastBack);
                std::int32_t i = 0;
                for (; i + 4 <= m; i += 4, backs = _mm_sub_epi32(backs, _mm_set1_epi32(4))) {
                    const __m128 back = _mm_cvtepi32_ps(backs);
                    _mm_storeu_ps(delaysL + i, _mm_add_ps(cl, back));
                    _mm_storeu_ps(delaysR + i, _mm_add_ps(cr, back));
                }
                for (; i < m; ++i) {
                    const auto back = static_cast<float>(lastBack - i);
                    delaysL[i] = currentL + back;
                    delaysR[i] = currentR + back;
                }
            }
            // The reads' terms first, for every whole group of four frames (the split reads and the
            // shelves fed just in time buy 39 to 65 % of the chain's time in every case); then each group's
            // polynomials are evaluated just ahead of the shelves' recursion, which overlaps them.
            constexpr std::int32_t kGroups = kPiece / 4;
            korvo::Delayline::ReadTerms termsL[kGroups], termsR[kGroups];
            const std::int32_t groups = m / 4;
            if (glidesWithTerms) {
                // The glides run two groups ahead of the terms: a group's terms then find their
                // delays ready, and the steps of later groups (a chain of dependent steps) go on
                // beside them instead of queueing behind terms that wait.
                constexpr std::int32_t kAhead = 2;
                FourGlides glides(delaySmootherLeft, delaySmootherRight, gainSmootherLeft, gainSmootherRight,
                                  delayTargetL, delayTargetR, gainTargetL, gainTargetR);
                // Called for the groups in order: each group's distances are the last group's less 4.
                __m128i backs = firstBacks(lastBack);
                const auto glideGroup = [&](std::int32_t g) __attribute__((always_inline)) {
                    const std::int32_t i = 4 * g;
                    glides.step4(_mm_cvtepi32_ps(backs), delaysL + i, delaysR + i, gainsL + i, gainsR + i);
                    backs = _mm_sub_epi32(backs, _mm_set1_epi32(4));
                };
                for (std::int32_t g = 0; g < kAhead && g < groups; ++g) glideGroup(g);
                for (std::int32_t g = 0; g < groups; ++g) {
                    if (g + kAhead < groups) glideGroup(g + kAhead);
                    termsL[g] = delayLeft.readTerms4(delaysL + 4 * g);
                    termsR[g] = delayRight.readTerms4(delaysR + 4 * g);
                }
                glides.storeInto(delaySmootherLeft, delaySmootherRight, gainSmootherLeft, gainSmootherRight);
                for (std::int32_t i = 4 * groups; i < m; ++i) {
                    const auto back = static_cast<float>(lastBack - i);
                    delaysL[i] = delaySmootherLeft.nextPlainStep(delayTargetL) + back;
                    delaysR[i] = delaySmootherRight.nextPlainStep(delayTargetR) + back;
                    gainsL[i] = gainSmootherLeft.nextPlainStep(gainTargetL);
                    gainsR[i] = gainSmootherRight.nextPlainStep(gainTargetR);
                }
            } else {
                for (std::int32_t g = 0; g < groups; ++g) {
                    termsL[g] = delayLeft.readTerms4(delaysL + 4 * g);
                    termsR[g] = delayRight.readTerms4(delaysR + 4 * g);
                }
            }
            StereoBiquads::processPairFrom(
                shelfLeft, shelfL, shelfRight, shelfR, l, r, m,
                [&](std::int32_t at, std::int32_t count, float* toL, float* toR)
                    __attribute__((always_inline)) {
                        if (count == 4) {
                            _mm_storeu_ps(toL, korvo::Delayline::readPolynomial4(termsL[at / 4]));
                            _mm_storeu_ps(toR, korvo::Delayline::readPolynomial4(termsR[at / 4]));
                        } else {
                            for (std::int32_t i = 0; i < count; ++i) {
                                toL[i] = delayLeft.readFractional(delaysL[at + i]);
                                toR[i] = delayRight.readFractional(delaysR[at + i]);
                            }
                        }
                    });
        }

        if (!haveDelay) StereoBiquads::processPair(shelfLeft, l, l, shelfL, shelfRight, r, r, shelfR, m);

        if (gainsGlide) {
            std::int32_t i = 0;
            for (; i + 4 <= m; i += 4) {
                _mm_storeu_ps(l + i, _mm_mul_ps(_mm_loadu_ps(l + i), _mm_loadu_ps(gainsL + i)));
                _mm_storeu_ps(r + i, _mm_mul_ps(_mm_loadu_ps(r + i), _mm_loadu_ps(gainsR + i)));
            }
            for (; i < m; ++i) {
                l[i] = l[i] * gainsL[i];
                r[i] = r[i] * gainsR[i];
            }
        } else {
            const float gl = gainSmootherLeft.current, gr = gainSmootherRight.current;
            const __m128 vl = _mm_set1_ps(gl), vr = _mm_set1_ps(gr);
            std::int32_t i = 0;
            for (; i + 4 <= m; i += 4) {
                _mm_storeu_ps(l + i, _mm_mul_ps(_mm_loadu_ps(l + i), vl));
                _mm_storeu_ps(r + i, _mm_mul_ps(_mm_loadu_ps(r + i), vr));
            }
            for (; i < m; ++i) {
                l[i] = l[i] * gl;
                r[i] = r[i] * gr;
            }
        }
    }
}

void PsychoacousticPanner::processBlockPlain(float* left, float* right, float pan, float headSize,
                                             float spectralPan, float levelPan, float gain,
                                             std::int32_t frames) noexcept {
    const float p = std::max(std::min(pan, 1.0f), -1.0f);
    if (frames <= 0) return;
    delayTargets(p, headSize, lastDelayTargetLeft, lastDelayTargetRight);
    if (!delayLeft.isEmpty() && !delayRight.isEmpty()) {
        delayLeft.feedBlock(left, frames);
        delayRight.feedBlock(right, frames);
        for (std::int32_t i = 0; i < frames; ++i) {
            const auto back = static_cast<float>(frames - 1 - i);
            left[i] = delayLeft.readFractional(delaySmootherLeft.nextSample(lastDelayTargetLeft) + back);
            right[i] = delayRight.readFractional(delaySmootherRight.nextSample(lastDelayTargetRight) + back);
        }
    }
    double leftDb = 0.0, rightDb = 0.0;
    shelfGainsDb(p, spectralPan, leftDb, rightDb);
    const auto design = [this](double db) {
        return db != 0.0
                   ? tessary::designHighShelf(kShelfCornerRadPerSecond, kShelfAlphaDivisor, db, sampleRate)
                   : korvo::BiquadCoeffs::identity();
    };
    shelfLeft.processBlock(left, left, frames, design(leftDb));
    shelfRight.processBlock(right, right, frames, design(rightDb));
    const float k = std::exp(levelPan * kLevelDifferenceDb * kDbToNeper);
    const float f = kSqrt2 / (k - 1.0f + kSqrt2);
    const float e = (1.0f - f) * kSqrt2;
    lastGainTargetLeft =
        static_cast<float>(std::cos(static_cast<double>(p + 1.0f) * kQuarterPi) * e + f) * gain;
    lastGainTargetRight =
        static_cast<float>(std::cos(static_cast<double>(p - 1.0f) * kQuarterPi) * e + f) * gain;
    for (std::int32_t i = 0; i < frames; ++i) {
        left[i] = left[i] * gainSmootherLeft.nextSample(lastGainTargetLeft);
        right[i] = right[i] * gainSmootherRight.nextSample(lastGainTargetRight);
    }
}

}  // namespace velmora
