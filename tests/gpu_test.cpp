// The accelerated layer's arithmetic under a pinned clock (meter easing and peak hold, LED
// blinking, the sample interval estimate, the bar intro, colour rules) and its log line.
#include "gpu.h"
#include "logger.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

struct Clock {
    double t = 100;
    Clock() {
        gpu::set_clock([this] { return t; });
    }
    ~Clock() { gpu::set_clock(nullptr); }
};

// The meter's level after `seconds` at 60 frames per second toward `to`, from `start`.
gpu::Level run(gpu::Level s, double to, double seconds, double& t) {
    const double dt = 1.0 / 60;
    for (double done = 0; done < seconds - 1e-9; done += dt) {
        t += dt;
        s = gpu::meter_step(s, to, dt, t);
    }
    return s;
}

TEST(GpuMeter, RisesFastFallsSlowPeakHoldsThenSinks) {
    struct Case {
        double from, to, after, lo, hi;
    } cases[] = {
        {0, 1, 1.0 / 18, 0.6, 0.8},                         // time constant 1/18 s
        {0, 1, 0.2, 0.97, 1.0},     {1, 0, 0.1, 0.6, 0.75}, // falling takes about 0.3 s
        {1, 0, 0.3, 0.3, 0.4},      {1, 0, 1.0, 0.0, 0.05},
    };
    for (const Case& c : cases) {
        double t = 0;
        gpu::Level s{c.from, c.from, 0};
        s = run(s, c.to, c.after, t);
        EXPECT_GE(s.value, c.lo) << c.from << "->" << c.to << " after " << c.after;
        EXPECT_LE(s.value, c.hi) << c.from << "->" << c.to << " after " << c.after;
    }
    // A frame longer than the time constant lands on the target.
    EXPECT_DOUBLE_EQ(gpu::meter_step({}, 1, 0.1, 0).value, 1);

    double t = 0;
    gpu::Level s = run({}, 1, 0.5, t); // peak reached at about t = 0.5
    const double peak_t = s.peak_t;
    s = run(s, 0, 1.1, t);
    EXPECT_NEAR(s.peak, 1, 1e-3); // held
    EXPECT_LT(s.value, 0.05);
    s = run(s, 0, (peak_t + 2.2) - t, t); // one second after the hold ends
    EXPECT_NEAR(s.peak, 1 - 0.35, 0.02);
    // Only the peak segment is lit above a dark meter.
    int lit = -1, count = 0;
    for (int i = 0; i < 26; ++i)
        if (gpu::segment_lit(s, i, 26)) ++count, lit = i;
    EXPECT_EQ(count, 1);
    EXPECT_EQ(lit, static_cast<int>(std::floor(s.peak * 26 - 0.5)));
    EXPECT_FALSE(gpu::segment_lit(gpu::Level{0, 0.01, 0}, 0, 26)); // too low to show
}

TEST(GpuLed, BlinkFrequencyAndPhase) {
    EXPECT_DOUBLE_EQ(gpu::led_factor(10, 0, 5), 0.14); // idle: dim, steady
    struct Case {
        double activity, freq;
    } cases[] = {{0.25, 6.5}, {1.0, 17}, {3.0, 17}};
    for (const Case& c : cases) {
        // Bright for the first 55 % of each period, dim for the rest.
        EXPECT_DOUBLE_EQ(gpu::led_factor(0, c.activity, 0.5 / c.freq), 1) << c.activity;
        EXPECT_DOUBLE_EQ(gpu::led_factor(0, c.activity, 0.6 / c.freq), 0.35) << c.activity;
        int rises = 0;
        double last = gpu::led_factor(0, c.activity, 0);
        for (int i = 1; i <= 100000; ++i) {
            const double f = gpu::led_factor(0, c.activity, i / 100000.0);
            rises += f > last;
            last = f;
        }
        EXPECT_NEAR(rises, c.freq, 1) << c.activity;
    }
    // LEDs side by side blink out of step: the phase depends on x.
    EXPECT_NE(gpu::led_factor(0, 0.5, 0.05), gpu::led_factor(40, 0.5, 0.05));
}

TEST(GpuTiming, IntervalEstimateIntroAndStaggeredBars) {
    Clock clock;
    struct Step {
        double at, want;
    } steps[] = {
        {100, 1},                 // first sample: nominal
        {101.5, 0.7 + 0.3 * 1.5}, // a normal gap moves the estimate
        {101.55, 1},              // below 0.1 s: ignored, back to nominal
        {102.45, 0.7 + 0.3 * 0.9},
        {106, 1}, // above three intervals: nominal
    };
    for (const Step& s : steps) {
        clock.t = s.at;
        gpu::sample_arrived(1);
        EXPECT_NEAR(gpu::interval_estimate(), s.want, 1e-9) << s.at;
    }

    clock.t = 200;
    gpu::restart_intro();
    for (auto [at, running] : {std::pair{200.0, true}, {201.59, true}, {201.61, false}}) {
        clock.t = at;
        EXPECT_EQ(gpu::intro_running(), running) << at;
    }

    EXPECT_DOUBLE_EQ(gpu::bar_factor(0, 0), 0);
    EXPECT_DOUBLE_EQ(gpu::bar_factor(0, 0.6), 1);
    EXPECT_LT(gpu::bar_factor(5, 0.6), 1);
    for (int i = 1; i < 30; ++i) // each bar repeats its neighbour's growth 22 ms later
        EXPECT_NEAR(gpu::bar_factor(i, 0.3 + 0.022 * i), gpu::bar_factor(0, 0.3), 1e-12) << i;
    EXPECT_NEAR(gpu::bar_factor(0, 0.3), 1 - 0.125, 1e-12); // ease-out cubic at half time
}

TEST(GpuColour, GlowIsAdditiveOnlyInTheDarkThemeWithPremultipliedBlending) {
    EXPECT_TRUE(gpu::glow_additive(true, true));
    EXPECT_FALSE(gpu::glow_additive(false, true));
    EXPECT_FALSE(gpu::glow_additive(true, false));
    const Rgba c{1, 0.5, 0, 0.8};
    struct Case {
        bool premul, additive;
        SDL_Color want;
    } cases[] = {
        {true, false, {102, 51, 0, 102}}, // channels times alpha 0.4
        {true, true, {102, 51, 0, 0}},    // pure addition
        {false, true, {255, 128, 0, 102}},
    };
    for (const Case& k : cases) {
        const SDL_Color got = gpu::to_color(c, 0.5, k.premul, k.additive);
        EXPECT_EQ(got.r, k.want.r);
        EXPECT_EQ(got.g, k.want.g);
        EXPECT_EQ(got.b, k.want.b);
        EXPECT_EQ(got.a, k.want.a) << k.premul << k.additive;
    }
    EXPECT_EQ(gpu::to_color(c, 3, false, false).a, 255); // clamped
}

TEST(GpuInit, LogSaysOffAndWhy) {
    gpu::init(nullptr, SDL_BLENDMODE_BLEND, SDL_BLENDMODE_BLEND, true);
    EXPECT_FALSE(gpu::available());
    EXPECT_NE(logger::tail(1).back().find("GPU drawing: off (software renderer)"),
              std::string::npos)
        << logger::tail(1).back();
    gpu::begin(nullptr, 1);
    EXPECT_FALSE(gpu::collecting()); // off: every call draws at once
    gpu::end();
}

} // namespace
