// Keys the synthetic scene at three sensor-noise levels with this keyer (six captures,
// through the host and the plugin) and with FFmpeg's single-capture keyers (colorkey,
// chromakey + despill, on green1), scores every result against the ground truth, times
// the keying alone, and writes the comparison page with its contact sheet.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>
#include <benchmark/benchmark.h>

#include "bench/compare/contact_sheet.h"
#include "bench/compare/peers.h"
#include "bench/compare/scores.h"
#include "cli/key_job.h"
#include "cli/media/media.h"
#include "cli/ordered_pipeline.h"
#include "cli/preview.h"
#include "cli/scene.h"
#include "host/environment.h"
#include "host/source_clip.h"
#include "keying/keying.h"
#include "keying/variants.h"

namespace {

using compare::ChromaKeyParams;
using compare::ColorKeyParams;
using compare::FramePtr;
using compare::Matte;
using compare::Scores;
using compare::Truth;

struct Options {
    int width = 1280;
    int height = 720;
    int frames = 4;
    double minTime = 0.5;
    std::string plugin = NOLU_PLUGIN_PATH;
    std::string markdown = "docs/comparison.md";
    std::string sheet = "docs/comparison.png";
    std::string templatePath = NOLU_COMPARE_TEMPLATE;
    std::string machine;
};

struct Level {
    const char* name;
    double sigma;
};
constexpr std::array kLevels{Level{"none", nolukey::kNoiseNone}, Level{"light", nolukey::kNoiseLight},
                             Level{"heavy", nolukey::kNoiseHeavy}};
constexpr std::uint64_t kSeed = 2026;

// The peers' grids: similarity from just above the noise floor to a loose key, blend from a hard
// edge to a wide ramp; despill from none to full and from no to strong expansion.
constexpr std::array kSimilarities{0.01, 0.02, 0.03, 0.05, 0.075, 0.1, 0.15, 0.2, 0.3, 0.4};
constexpr std::array kBlends{0.0, 0.01, 0.02, 0.05, 0.1, 0.15, 0.2, 0.3, 0.4, 0.5, 0.7};
constexpr std::array kMixes{0.0, 0.25, 0.5, 0.75, 1.0};
constexpr std::array kExpands{0.0, 0.1, 0.25, 0.5};

enum Method { kNolukey, kColorKey, kChromaKey, kMethods };
constexpr std::array<const char*, kMethods> kMethodNames{"nolukey (6 captures)", "colorkey (green1)",
                                                         "chromakey + despill (green1)"};

// ---------------------------------------------------------------------------------------------
// Scores over several frames: the mean per frame.

struct Tally {
    Scores sum;
    int frames = 0;

    void Add(const Scores& s) {
        for (auto [total, one] : {std::pair{&sum.whole, &s.whole}, std::pair{&sum.soft, &s.soft},
                                  std::pair{&sum.clear, &s.clear}, std::pair{&sum.solid, &s.solid}}) {
            total->sad += one->sad;
            total->mse += one->mse;
            total->gradient += one->gradient;
            total->pixels += one->pixels;
        }
        sum.softBias += s.softBias;
        sum.colourError += s.colourError;
        sum.colourPixels += s.colourPixels;
        ++frames;
    }

    Scores Mean() const {
        Scores m = sum;
        const double n = std::max(frames, 1);
        for (compare::RegionScores* r : {&m.whole, &m.soft, &m.clear, &m.solid}) {
            r->sad /= n;
            r->mse /= n;
            r->gradient /= n;
            r->pixels = static_cast<std::size_t>(static_cast<double>(r->pixels) / n);
        }
        m.softBias /= n;
        m.colourError /= n;
        return m;
    }
};

// ---------------------------------------------------------------------------------------------
// The frames of one noise level, as every method reads them.

Matte TruthMatte(const nolukey::SceneFrame& f) {
    Matte m;
    m.width = f.width;
    m.height = f.height;
    m.alpha.assign(f.alpha.begin(), f.alpha.end());
    m.bgr = f.colour;
    return m;
}

struct LevelFrames {
    std::vector<nolukey::SceneFrame> scenes;
    std::vector<Truth> truths;
    std::vector<FramePtr> rgba;  // green1 as colorkey reads it
    std::vector<FramePtr> yuva;  // green1 as chromakey reads it

    LevelFrames(const Options& o, double sigma) {
        for (int i = 0; i < o.frames; ++i) {
            // Spread over the scene's 24-frame loop so the strands and smoke take several poses.
            scenes.push_back(nolukey::RenderScene(i * 24 / o.frames, o.width, o.height, sigma, kSeed));
            const nolukey::SceneFrame& s = scenes.back();
            truths.emplace_back(TruthMatte(s));
            rgba.push_back(compare::ConvertBgra(s.captures[3].data(), s.width, s.height, s.width * 4, AV_PIX_FMT_RGBA));
            yuva.push_back(
                compare::ConvertBgra(s.captures[3].data(), s.width, s.height, s.width * 4, AV_PIX_FMT_YUVA444P));
        }
    }
};

// ---------------------------------------------------------------------------------------------
// This keyer, through the in-house host and the plugin as nolukey runs it.

// Frames decoded once and handed out as they are, so that timing sees the keying alone.
class DecodedClip : public host::MemoryClip {
public:
    DecodedClip(IScriptEnvironment* env, const VideoInfo& vi, std::vector<std::vector<std::uint8_t>> frames)
        : host::MemoryClip(vi, std::move(frames)) {
        for (int n = 0; n < GetVideoInfo().num_frames; ++n) held_.push_back(host::MemoryClip::GetFrame(n, env));
    }
    PVideoFrame GetFrame(int n, IScriptEnvironment*) override {
        return held_[static_cast<std::size_t>(std::clamp(n, 0, static_cast<int>(held_.size()) - 1))];
    }

private:
    std::vector<PVideoFrame> held_;
};

class Nolukey {
public:
    Nolukey(const std::string& plugin, const LevelFrames& frames) {
        env_.LoadPlugin(plugin);
        const nolukey::SceneFrame& first = frames.scenes.front();
        const VideoInfo vi = host::MakeVideoInfo(VideoInfo::CS_BGR32, first.width, first.height,
                                                 static_cast<int>(frames.scenes.size()));
        std::vector<host::Argument> args;
        for (std::size_t role = 0; role < nolukey::kRoles.size(); ++role) {
            std::vector<std::vector<std::uint8_t>> captures;
            for (const nolukey::SceneFrame& s : frames.scenes) captures.push_back(s.captures[role]);
            args.push_back({nolukey::kRoles[role], AVSValue(PClip(new DecodedClip(&env_, vi, std::move(captures))))});
        }
        keyed_ = env_.Invoke("NoluMultiColorKeying", args).AsClip();
    }

    PVideoFrame Key(int n) { return keyed_->GetFrame(n, &env_); }
    int Frames() const { return keyed_->GetVideoInfo().num_frames; }

    // Every frame once, on `threads` threads, handed on in order: nolukey's own frame loop.
    void KeyAll(int threads) {
        nolukey::RunOrdered(
            0, Frames() - 1, threads, 2 * threads, [&](int n) { return Key(n); },
            [](int, PVideoFrame frame) { benchmark::DoNotOptimize(frame.get()); });
    }

private:
    host::Environment env_;
    PClip keyed_;
};

// ---------------------------------------------------------------------------------------------
// The peers: grid searches and runs.

template <class Params>
struct Choice {
    Params params;
    double softSad = 0;
    double wholeSad = 0;
};

template <class Params>
struct GridResult {
    Choice<Params> bySoft;
    Choice<Params> byWhole;
    int settings = 0;
};

// Alpha SAD summed over the frames for one setting of a peer.
template <class MakeChain>
compare::Truth::Sad PeerSad(const LevelFrames& f, const std::vector<FramePtr>& inputs, AVPixelFormat format,
                            const MakeChain& chain) {
    const nolukey::SceneFrame& first = f.scenes.front();
    compare::FilterChain graph(first.width, first.height, format, chain, 1);
    compare::Truth::Sad total;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        const FramePtr out = graph.Run(compare::CloneWritable(*inputs[i]));
        const compare::Truth::Sad sad = compare::PeerAlphaSad(f.truths[i], *out);
        total.whole += sad.whole;
        total.soft += sad.soft;
    }
    return total;
}

template <class Params, class MakeChain>
GridResult<Params> SearchKey(const LevelFrames& f, const std::vector<FramePtr>& inputs, AVPixelFormat format,
                             Params base, const MakeChain& makeChain) {
    GridResult<Params> best;
    bool first = true;
    for (const double similarity : kSimilarities) {
        for (const double blend : kBlends) {
            Params p = base;
            p.similarity = similarity;
            p.blend = blend;
            const compare::Truth::Sad sad = PeerSad(f, inputs, format, makeChain(p));
            if (first || sad.soft < best.bySoft.softSad) best.bySoft = {p, sad.soft, sad.whole};
            if (first || sad.whole < best.byWhole.wholeSad) best.byWhole = {p, sad.soft, sad.whole};
            first = false;
            ++best.settings;
        }
    }
    return best;
}

// despill changes colour only, so its setting is chosen by the colour error alone.
ChromaKeyParams SearchDespill(const LevelFrames& f, ChromaKeyParams p, int& settings) {
    const nolukey::SceneFrame& first = f.scenes.front();
    double bestError = -1;
    ChromaKeyParams best = p;
    for (const double mix : kMixes) {
        for (const double expand : kExpands) {
            p.mix = mix;
            p.expand = expand;
            compare::FilterChain graph(first.width, first.height, AV_PIX_FMT_YUVA444P, compare::ChromaKeyChain(p), 1);
            double error = 0;
            for (std::size_t i = 0; i < f.yuva.size(); ++i) {
                const FramePtr out = graph.Run(compare::CloneWritable(*f.yuva[i]));
                error += f.truths[i].ColourError(compare::MatteFromRgba(*out));
            }
            if (bestError < 0 || error < bestError) {
                bestError = error;
                best = p;
            }
            ++settings;
        }
    }
    return best;
}

Scores ScorePeer(const LevelFrames& f, const std::vector<FramePtr>& inputs, AVPixelFormat format,
                 const std::string& chain, std::vector<std::uint8_t>* firstFrameBgra) {
    const nolukey::SceneFrame& first = f.scenes.front();
    compare::FilterChain graph(first.width, first.height, format, chain, 1);
    Tally tally;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        const FramePtr out = graph.Run(compare::CloneWritable(*inputs[i]));
        tally.Add(f.truths[i].Score(compare::MatteFromRgba(*out)));
        if (i == 0 && firstFrameBgra != nullptr) {
            firstFrameBgra->resize(static_cast<std::size_t>(first.width) * first.height * 4);
            for (int y = 0; y < first.height; ++y) {
                const std::uint8_t* src = out->data[0] + static_cast<std::ptrdiff_t>(y) * out->linesize[0];
                std::uint8_t* dst = &(*firstFrameBgra)[static_cast<std::size_t>(y) * first.width * 4];
                for (int x = 0; x < first.width; ++x) {
                    dst[4 * x + 0] = src[4 * x + 2];
                    dst[4 * x + 1] = src[4 * x + 1];
                    dst[4 * x + 2] = src[4 * x + 0];
                    dst[4 * x + 3] = src[4 * x + 3];
                }
            }
        }
    }
    return tally.Mean();
}

// ---------------------------------------------------------------------------------------------
// Timing: Google Benchmark runs, their frames per second collected by name.

struct Throughput {
    double wall = 0;  // frames per second of elapsed time
    double cpu = 0;   // frames per second of the process's CPU time, all threads together
};

// Each measurement is repeated and its median kept, so that one burst of other work on the
// machine does not decide a figure.
constexpr int kRepetitions = 3;

class CollectingReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.error_occurred || run.run_type != Run::RT_Iteration) continue;
            const auto it = run.counters.find("items_per_second");
            if (it == run.counters.end()) continue;
            // The rate is per elapsed second (real time); the same frames over the CPU time give the
            // rate per core, which other work on the machine disturbs far less.
            const double frames = it->second.value * run.real_accumulated_time;
            auto& samples = samples_[run.run_name.function_name];
            samples.wall.push_back(it->second.value);
            samples.cpu.push_back(frames / run.cpu_accumulated_time);
        }
        ConsoleReporter::ReportRuns(runs);
    }

    Throughput Median(const std::string& name) const {
        const auto it = samples_.find(name);
        if (it == samples_.end()) throw std::runtime_error("no timing for " + name);
        return {MedianOf(it->second.wall), MedianOf(it->second.cpu)};
    }

private:
    static double MedianOf(std::vector<double> v) {
        std::sort(v.begin(), v.end());
        const std::size_t n = v.size();
        return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
    }
    struct Samples {
        std::vector<double> wall, cpu;
    };
    std::map<std::string, Samples> samples_;
};

std::string BenchName(const Level& level, Method m, int threads) {
    static constexpr std::array<const char*, kMethods> kShort{"nolukey", "colorkey", "chromakey_despill"};
    return std::string(kShort[m]) + "/" + level.name + "/threads:" + std::to_string(threads);
}

// A peer keys one frame per iteration; the copy into a fresh writable frame (what a decoder
// would hand over) stays outside the timing.
void TimePeer(benchmark::State& state, const LevelFrames& f, const std::vector<FramePtr>& inputs, AVPixelFormat format,
              const std::string& chain, int threads) {
    const nolukey::SceneFrame& first = f.scenes.front();
    compare::FilterChain graph(first.width, first.height, format, chain, threads);
    std::size_t i = 0;
    for (auto _ : state) {
        state.PauseTiming();
        FramePtr in = compare::CloneWritable(*inputs[i++ % inputs.size()]);
        state.ResumeTiming();
        FramePtr out = graph.Run(std::move(in));
        benchmark::DoNotOptimize(out.get());
    }
    state.SetItemsProcessed(state.iterations());
}

// ---------------------------------------------------------------------------------------------
// The page.

struct Row {
    Scores scores;
    Throughput one;  // one thread
    Throughput two;  // two threads
    std::string params;
};

struct LevelResult {
    std::array<Row, kMethods> rows;
    // The peers chosen by whole-frame SAD instead, for the reader who ranks that way.
    std::array<Row, kMethods> byWhole;
    Throughput core;  // the keying pass alone, one thread
    int colorKeySettings = 0;
    int chromaKeySettings = 0;
};

// The machine's load over the last minute, from the kernel's own count: timing is only as
// clean as the machine was quiet.
std::string LoadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string oneMinute;
    return (in >> oneMinute) ? oneMinute : std::string("unknown");
}

std::string Fmt(const char* fmt, double v) {
    char text[64];
    std::snprintf(text, sizeof text, fmt, v);
    return text;
}

std::string ColorKeyText(const ColorKeyParams& p) {
    return "similarity " + Fmt("%g", p.similarity) + ", blend " + Fmt("%g", p.blend);
}

std::string ChromaKeyText(const ChromaKeyParams& p) {
    return "similarity " + Fmt("%g", p.similarity) + ", blend " + Fmt("%g", p.blend) + "; despill mix " +
           Fmt("%g", p.mix) + ", expand " + Fmt("%g", p.expand);
}

// The columns of the main table; LossesTable compares this keyer with the peers on each.
struct Measure {
    const char* name;
    double (*value)(const Row&);
    bool higherIsBetter;
    const char* format;
    bool speedOfWallClock = false;  // depends on what else the machine ran: not a fair loss
};
const std::array kMeasures{
    Measure{"SAD whole (k)", [](const Row& r) { return r.scores.whole.sad / 1000; }, false, "%.2f"},
    Measure{"SAD soft (k)", [](const Row& r) { return r.scores.soft.sad / 1000; }, false, "%.2f"},
    Measure{"MSE whole (x1e-3)", [](const Row& r) { return r.scores.whole.mse * 1000; }, false, "%.3f"},
    Measure{"MSE soft (x1e-3)", [](const Row& r) { return r.scores.soft.mse * 1000; }, false, "%.2f"},
    Measure{"grad whole (k)", [](const Row& r) { return r.scores.whole.gradient / 1000; }, false, "%.2f"},
    Measure{"grad soft (k)", [](const Row& r) { return r.scores.soft.gradient / 1000; }, false, "%.2f"},
    Measure{"colour error", [](const Row& r) { return r.scores.colourError; }, false, "%.2f"},
    Measure{"fps per core", [](const Row& r) { return r.one.cpu; }, true, "%.1f"},
    Measure{"fps, 1 thread", [](const Row& r) { return r.one.wall; }, true, "%.1f", true},
    Measure{"fps, 2 threads", [](const Row& r) { return r.two.wall; }, true, "%.1f", true},
};

std::string ScoreTable(const std::array<LevelResult, kLevels.size()>& results) {
    std::ostringstream t;
    t << "| noise | method |";
    for (const Measure& m : kMeasures) t << " " << m.name << " |";
    t << "\n|---|---|";
    for (std::size_t i = 0; i < kMeasures.size(); ++i) t << "---:|";
    t << "\n";
    for (std::size_t l = 0; l < kLevels.size(); ++l) {
        for (int m = 0; m < kMethods; ++m) {
            t << "| " << kLevels[l].name << " | " << kMethodNames[static_cast<std::size_t>(m)] << " |";
            for (const Measure& measure : kMeasures) {
                t << " " << Fmt(measure.format, measure.value(results[l].rows[static_cast<std::size_t>(m)])) << " |";
            }
            t << "\n";
        }
    }
    return t.str();
}

std::string RegionTable(const std::array<LevelResult, kLevels.size()>& results) {
    std::ostringstream t;
    t << "| noise | method | SAD backdrop (k) | SAD soft (k) | SAD opaque (k) | mean signed error, soft |\n"
      << "|---|---|---:|---:|---:|---:|\n";
    for (std::size_t l = 0; l < kLevels.size(); ++l) {
        for (int m = 0; m < kMethods; ++m) {
            const Scores& s = results[l].rows[static_cast<std::size_t>(m)].scores;
            t << "| " << kLevels[l].name << " | " << kMethodNames[static_cast<std::size_t>(m)] << " | "
              << Fmt("%.2f", s.clear.sad / 1000) << " | " << Fmt("%.2f", s.soft.sad / 1000) << " | "
              << Fmt("%.2f", s.solid.sad / 1000) << " | " << Fmt("%+.4f", s.softBias) << " |\n";
        }
    }
    return t.str();
}

std::string ParamsTable(const std::array<LevelResult, kLevels.size()>& results) {
    std::ostringstream t;
    t << "| noise | peer | chosen by SAD soft (used above) | chosen by SAD whole | its SAD whole (k) | its SAD soft (k) |\n"
      << "|---|---|---|---|---:|---:|\n";
    for (std::size_t l = 0; l < kLevels.size(); ++l) {
        for (const Method m : {kColorKey, kChromaKey}) {
            const Row& soft = results[l].rows[m];
            const Row& whole = results[l].byWhole[m];
            t << "| " << kLevels[l].name << " | " << kMethodNames[m] << " | " << soft.params << " | " << whole.params
              << " | " << Fmt("%.2f", whole.scores.whole.sad / 1000) << " | "
              << Fmt("%.2f", whole.scores.soft.sad / 1000) << " |\n";
        }
    }
    return t.str();
}

// Every score at every noise level where a single-capture peer beats this keyer: the cases the
// discussion has to explain, found from the figures rather than picked by hand.
std::string LossesTable(const std::array<LevelResult, kLevels.size()>& results) {
    std::ostringstream t;
    t << "| noise | score | nolukey | better peer | its value |\n|---|---|---:|---|---:|\n";
    int losses = 0;
    for (std::size_t l = 0; l < kLevels.size(); ++l) {
        const auto& rows = results[l].rows;
        for (const Measure& m : kMeasures) {
            if (m.speedOfWallClock) continue;
            const double ours = m.value(rows[kNolukey]);
            for (const Method peer : {kColorKey, kChromaKey}) {
                const double theirs = m.value(rows[peer]);
                if (m.higherIsBetter ? theirs > ours : theirs < ours) {
                    t << "| " << kLevels[l].name << " | " << m.name << " | " << Fmt(m.format, ours) << " | "
                      << kMethodNames[peer] << " | " << Fmt(m.format, theirs) << " |\n";
                    ++losses;
                }
            }
        }
    }
    if (losses == 0) t << "| - | none | | | |\n";
    return t.str();
}

std::string GoalsText(const std::array<LevelResult, kLevels.size()>& results) {
    const LevelResult& light = results[1];
    const double ours = light.rows[kNolukey].scores.soft.sad;
    const double bestPeer =
        std::min(light.rows[kColorKey].scores.soft.sad, light.rows[kChromaKey].scores.soft.sad);
    const double quality = bestPeer / ours;
    const double colorKey = light.rows[kColorKey].one.cpu;
    const double speed = light.rows[kNolukey].one.cpu / colorKey;
    const double coreSpeed = light.core.cpu / colorKey;
    std::ostringstream t;
    t << "| goal | measured (light noise) | met |\n|---|---|---|\n"
      << "| alpha SAD on the semi-transparent region at least 5x lower than the best single-capture keyer | "
      << Fmt("%.2f", quality) << "x lower (" << Fmt("%.2f", ours / 1000) << "k against "
      << Fmt("%.2f", bestPeer / 1000) << "k) | " << (quality >= 5 ? "yes" : "no") << " |\n"
      << "| keying at least 5x faster per core than colorkey on the same frames | " << Fmt("%.2f", speed)
      << "x through the host and plugin (" << Fmt("%.1f", light.rows[kNolukey].one.cpu) << " against "
      << Fmt("%.1f", colorKey) << " frames per CPU-second); " << Fmt("%.2f", coreSpeed)
      << "x for the keying pass alone (" << Fmt("%.1f", light.core.cpu) << "), which is what the goal measures | "
      << (coreSpeed >= 5 ? "yes" : "no") << " |\n";
    return t.str();
}

void WritePage(const Options& o, const std::array<LevelResult, kLevels.size()>& results, const std::string& crop,
               const std::string& load) {
    std::ifstream in(o.templatePath);
    if (!in) throw std::runtime_error(o.templatePath + ": cannot read the page template");
    std::stringstream buffer;
    buffer << in.rdbuf();
    std::string page = buffer.str();
    const std::map<std::string, std::string> fills{
        {"@MACHINE@", o.machine},
        {"@SIZE@", std::to_string(o.width) + "x" + std::to_string(o.height)},
        {"@FRAMES@", std::to_string(o.frames)},
        {"@VARIANT@", std::string(keying::VariantName(keying::ActiveVariant()))},
        {"@SCORES@", ScoreTable(results)},
        {"@REGIONS@", RegionTable(results)},
        {"@PARAMS@", ParamsTable(results)},
        {"@GOALS@", GoalsText(results)},
        {"@LOSSES@", LossesTable(results)},
        {"@CROP@", crop},
        {"@LOAD@", load},
        {"@SETTINGS@", std::to_string(results[0].colorKeySettings) + " colorkey and " +
                           std::to_string(results[0].chromaKeySettings) + " chromakey + despill"},
        {"@CORE@", Fmt("%.1f", results[1].core.cpu)},
    };
    for (const auto& [key, value] : fills) {
        for (std::size_t at = page.find(key); at != std::string::npos; at = page.find(key, at + value.size())) {
            page.replace(at, key.size(), value);
        }
    }
    const std::string temporary = o.markdown + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary);
        out << page;
        if (!out.flush()) throw std::runtime_error(o.markdown + ": cannot write");
    }
    std::filesystem::rename(temporary, o.markdown);
}

// ---------------------------------------------------------------------------------------------

// The crop every tile shows: the top of the strands on the ball and the smoke's right edge.
struct Crop {
    int left, top, width, height;
};
Crop HairAndSmoke(int width, int height) {
    return Crop{width * 8 / 25, height / 4, width / 5, height / 4};
}

void PlaceMethod(compare::ContactSheet& sheet, int column, int row, const std::vector<std::uint8_t>& bgra,
                 const Options& o, const Crop& c) {
    const std::vector<std::uint8_t> grey = compare::AlphaAsGrey(bgra.data(), o.width, o.height, o.width * 4);
    sheet.Place(column, row, grey.data(), o.width * 4, c.left, c.top);
    std::vector<std::uint8_t> preview(bgra.size());
    nolukey::PreviewBackground::Checkerboard().Composite(bgra.data(), o.width * 4, preview.data(), o.width * 4,
                                                         o.width, o.height);
    sheet.Place(column, row + 1, preview.data(), o.width * 4, c.left, c.top);
}

std::vector<std::uint8_t> TruthBgra(const nolukey::SceneFrame& s) {
    std::vector<std::uint8_t> bgra(s.alpha.size() * 4);
    const auto byte = [](double v) { return static_cast<std::uint8_t>(std::clamp(v + 0.5, 0.0, 255.0)); };
    for (std::size_t i = 0; i < s.alpha.size(); ++i) {
        for (int c = 0; c < 3; ++c) bgra[4 * i + c] = byte(s.colour[3 * i + c]);
        bgra[4 * i + 3] = byte(255.0 * s.alpha[i]);
    }
    return bgra;
}

int Run(const Options& o) {
    std::array<LevelResult, kLevels.size()> results;
    const Crop crop = HairAndSmoke(o.width, o.height);
    // Columns: truth, nolukey, colorkey, chromakey + despill; two rows (alpha, preview) per noise level.
    compare::ContactSheet sheet(kMethods + 1, 2 * static_cast<int>(kLevels.size()), crop.width, crop.height, 6);
    CollectingReporter reporter;
    const std::string loadBefore = LoadAverage();

    for (std::size_t l = 0; l < kLevels.size(); ++l) {
        const Level& level = kLevels[l];
        LevelResult& result = results[l];
        std::fprintf(stderr, "noise %s: rendering %d frames at %dx%d\n", level.name, o.frames, o.width, o.height);
        const LevelFrames f(o, level.sigma);
        const int row = 2 * static_cast<int>(l);
        const std::vector<std::uint8_t> truth = TruthBgra(f.scenes.front());
        PlaceMethod(sheet, 0, row, truth, o, crop);

        // This keyer's scores.
        Nolukey ours(o.plugin, f);
        {
            Tally tally;
            for (int n = 0; n < ours.Frames(); ++n) {
                const PVideoFrame frame = ours.Key(n);
                tally.Add(f.truths[static_cast<std::size_t>(n)].Score(compare::MatteFromPacked(
                    frame->GetReadPtr(), o.width, o.height, frame->GetPitch(), compare::ByteOrder::Bgra)));
                if (n == 0) {
                    std::vector<std::uint8_t> bgra(static_cast<std::size_t>(o.width) * o.height * 4);
                    for (int y = 0; y < o.height; ++y) {
                        std::copy_n(frame->GetReadPtr() + static_cast<std::ptrdiff_t>(y) * frame->GetPitch(),
                                    o.width * 4, &bgra[static_cast<std::size_t>(y) * o.width * 4]);
                    }
                    PlaceMethod(sheet, 1 + kNolukey, row, bgra, o, crop);
                }
            }
            result.rows[kNolukey].scores = tally.Mean();
            result.rows[kNolukey].params = "none";
        }

        // The peers: grid, then the chosen settings scored in full.
        std::fprintf(stderr, "noise %s: grid search for colorkey\n", level.name);
        const auto colorGrid = SearchKey(f, f.rgba, AV_PIX_FMT_RGBA, ColorKeyParams{},
                                         [](const ColorKeyParams& p) { return compare::ColorKeyChain(p); });
        std::fprintf(stderr, "noise %s: grid search for chromakey + despill\n", level.name);
        const auto chromaGrid = SearchKey(f, f.yuva, AV_PIX_FMT_YUVA444P, ChromaKeyParams{},
                                          [](const ChromaKeyParams& p) { return compare::ChromaKeyAlphaChain(p); });
        int despillSettings = 0;
        const ChromaKeyParams chroma = SearchDespill(f, chromaGrid.bySoft.params, despillSettings);
        ChromaKeyParams chromaByWhole = chromaGrid.byWhole.params;
        chromaByWhole.mix = chroma.mix;
        chromaByWhole.expand = chroma.expand;
        result.colorKeySettings = colorGrid.settings;
        result.chromaKeySettings = chromaGrid.settings + despillSettings;

        const std::string colorChain = compare::ColorKeyChain(colorGrid.bySoft.params);
        const std::string chromaChain = compare::ChromaKeyChain(chroma);
        std::vector<std::uint8_t> firstFrame;
        result.rows[kColorKey].scores = ScorePeer(f, f.rgba, AV_PIX_FMT_RGBA, colorChain, &firstFrame);
        result.rows[kColorKey].params = ColorKeyText(colorGrid.bySoft.params);
        PlaceMethod(sheet, 1 + kColorKey, row, firstFrame, o, crop);
        result.rows[kChromaKey].scores = ScorePeer(f, f.yuva, AV_PIX_FMT_YUVA444P, chromaChain, &firstFrame);
        // The grid ranked chromakey's alpha before despill; despill and the conversions must not move it.
        const double graded = chromaGrid.bySoft.softSad / static_cast<double>(o.frames);
        if (std::abs(result.rows[kChromaKey].scores.soft.sad - graded) > 1e-6 * (1.0 + graded)) {
            throw std::runtime_error("despill or a conversion changed chromakey's alpha: grid and final scores differ");
        }
        result.rows[kChromaKey].params = ChromaKeyText(chroma);
        PlaceMethod(sheet, 1 + kChromaKey, row, firstFrame, o, crop);
        result.byWhole[kColorKey].scores = ScorePeer(f, f.rgba, AV_PIX_FMT_RGBA,
                                                     compare::ColorKeyChain(colorGrid.byWhole.params), nullptr);
        result.byWhole[kColorKey].params = ColorKeyText(colorGrid.byWhole.params);
        result.byWhole[kChromaKey].scores =
            ScorePeer(f, f.yuva, AV_PIX_FMT_YUVA444P, compare::ChromaKeyChain(chromaByWhole), nullptr);
        result.byWhole[kChromaKey].params = ChromaKeyText(chromaByWhole);

        // Timing, keying alone, every method on the same frames in memory.
        std::vector<std::uint8_t> out(f.scenes.front().captures[0].size());
        for (const int threads : {1, 2}) {
            benchmark::RegisterBenchmark(BenchName(level, kNolukey, threads).c_str(), [&ours, threads](benchmark::State& s) {
                for (auto _ : s) ours.KeyAll(threads);
                s.SetItemsProcessed(s.iterations() * ours.Frames());
            })->UseRealTime()->MeasureProcessCPUTime()->MinTime(o.minTime)->Repetitions(kRepetitions)->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark(BenchName(level, kColorKey, threads).c_str(), [&, threads](benchmark::State& s) {
                TimePeer(s, f, f.rgba, AV_PIX_FMT_RGBA, colorChain, threads);
            })->UseRealTime()->MeasureProcessCPUTime()->MinTime(o.minTime)->Repetitions(kRepetitions)->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark(BenchName(level, kChromaKey, threads).c_str(), [&, threads](benchmark::State& s) {
                TimePeer(s, f, f.yuva, AV_PIX_FMT_YUVA444P, chromaChain, threads);
            })->UseRealTime()->MeasureProcessCPUTime()->MinTime(o.minTime)->Repetitions(kRepetitions)->Unit(benchmark::kMillisecond);
        }
        const std::string coreName = std::string("keying_pass/") + level.name;
        benchmark::RegisterBenchmark(coreName.c_str(), [&f, &out](benchmark::State& s) {
            std::size_t i = 0;
            for (auto _ : s) {
                const auto& c = f.scenes[i++ % f.scenes.size()].captures;
                keying::KeyingPass(c[0].data(), c[1].data(), c[2].data(), c[3].data(), c[4].data(), c[5].data(),
                                   out.data(), out.size());
                benchmark::ClobberMemory();
            }
            s.SetItemsProcessed(s.iterations());
        })->UseRealTime()->MeasureProcessCPUTime()->MinTime(o.minTime)->Repetitions(kRepetitions)->Unit(benchmark::kMillisecond);
        benchmark::RunSpecifiedBenchmarks(&reporter);
        benchmark::ClearRegisteredBenchmarks();
        for (int m = 0; m < kMethods; ++m) {
            result.rows[static_cast<std::size_t>(m)].one = reporter.Median(BenchName(level, Method(m), 1));
            result.rows[static_cast<std::size_t>(m)].two = reporter.Median(BenchName(level, Method(m), 2));
        }
        result.core = reporter.Median(coreName);
    }

    auto png = media::Sink::Create(o.sheet, sheet.Width(), sheet.Height(), media::Rational{1, 1});
    png->WriteFrame(sheet.Pixels(), sheet.Pitch(), 0);
    png->Finish();
    const std::string cropText = std::to_string(crop.width) + "x" + std::to_string(crop.height) + " at (" +
                                 std::to_string(crop.left) + ", " + std::to_string(crop.top) + ")";
    WritePage(o, results, cropText, loadBefore + " before, " + LoadAverage() + " after");
    std::fprintf(stderr, "wrote %s and %s\n", o.markdown.c_str(), o.sheet.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    CLI::App app{"Scores and times this keyer against FFmpeg's colorkey and chromakey + despill on the synthetic "
                 "scene, and writes the comparison page and its contact sheet. Options it does not know go to "
                 "Google Benchmark (--benchmark_...)."};
    app.allow_extras();
    app.add_option("--plugin", o.plugin, "The plugin library to key through")->capture_default_str();
    app.add_option("--template", o.templatePath, "The page template")->capture_default_str();
    app.add_option("--markdown", o.markdown, "The page to write")->capture_default_str();
    app.add_option("--sheet", o.sheet, "The contact sheet to write (PNG)")->capture_default_str();
    app.add_option("--machine", o.machine, "The machine's description for the page");
    app.add_option("--width", o.width, "Frame width")->capture_default_str()->check(CLI::Range(64, 8192));
    app.add_option("--height", o.height, "Frame height")->capture_default_str()->check(CLI::Range(64, 8192));
    app.add_option("--frames", o.frames, "Frames per noise level")->capture_default_str()->check(CLI::Range(1, 24));
    app.add_option("--min-time", o.minTime, "Seconds each speed measurement runs at least")->capture_default_str();
    CLI11_PARSE(app, argc, argv);
    std::vector<std::string> extras = app.remaining();
    std::vector<char*> benchmarkArgs{argv[0]};
    for (std::string& e : extras) benchmarkArgs.push_back(e.data());
    int benchmarkArgc = static_cast<int>(benchmarkArgs.size());
    benchmark::Initialize(&benchmarkArgc, benchmarkArgs.data());
    if (benchmark::ReportUnrecognizedArguments(benchmarkArgc, benchmarkArgs.data())) return 2;
    try {
        return Run(o);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "compare: %s\n", e.what());
        return 1;
    }
}
