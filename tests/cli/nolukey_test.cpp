// nolukey end to end: the executable run as a user runs it, its files read back and
// compared with the keying core on the same pixels.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/demo.h"
#include "cli/key_job.h"
#include "cli/media/media.h"
#include "cli/scene.h"
#include "keying/keying.h"
#include "tests/cli/media/fixtures.h"

namespace {

using media_test::Picture;
using media_test::TempDir;

struct Outcome {
    int code = -1;
    std::string out;
    std::string err;
};

std::string Quote(const std::string& s) {
    std::string q(1, '\'');
    for (char c : s) {
        if (c == '\'') {
            q.append("'\\''");
        } else {
            q.push_back(c);
        }
    }
    q.push_back('\'');
    return q;
}

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs nolukey with stdout and stderr captured in files of `scratch` (never a terminal,
// so no progress is drawn).
Outcome Nolukey(const TempDir& scratch, const std::vector<std::string>& args) {
    std::string command = Quote(NOLUKEY_EXE);
    for (const auto& a : args) {
        command.push_back(' ');
        command.append(Quote(a));
    }
    const std::string out = scratch / "stdout.txt";
    const std::string err = scratch / "stderr.txt";
    command.append(" >").append(Quote(out)).append(" 2>").append(Quote(err)).append(" </dev/null");
    const int status = std::system(command.c_str());
    Outcome run;
    run.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.out = Slurp(out);
    run.err = Slurp(err);
    std::filesystem::remove(out);
    std::filesystem::remove(err);
    return run;
}

void WriteFrames(const std::string& path, const std::vector<Picture>& frames, int firstNumber = 0) {
    auto sink = media::Sink::Create(path, frames[0].width, frames[0].height, media::Rational{25, 1});
    for (std::size_t i = 0; i < frames.size(); ++i) {
        sink->WriteFrame(frames[i].bytes.data(), frames[i].pitch, firstNumber + static_cast<int>(i));
    }
    sink->Finish();
}

std::vector<Picture> ReadFrames(const std::string& path) {
    const auto source = media::Source::Open(path);
    std::vector<Picture> frames;
    for (int n = 0; n < source->FrameCount(); ++n) {
        Picture p(source->Width(), source->Height());
        source->ReadFrame(n, p.bytes.data(), p.pitch);
        frames.push_back(std::move(p));
    }
    return frames;
}

// The six captures of one frame in role order.
using Six = std::array<Picture, 6>;

Six NoiseSix(int w, int h, unsigned seed) {
    return {media_test::NoisePicture(w, h, seed), media_test::NoisePicture(w, h, seed + 1),
            media_test::NoisePicture(w, h, seed + 2), media_test::NoisePicture(w, h, seed + 3),
            media_test::NoisePicture(w, h, seed + 4), media_test::NoisePicture(w, h, seed + 5)};
}

Six SceneSix(int frame, int w, int h) {
    const nolukey::SceneFrame scene = nolukey::RenderScene(frame, w, h, nolukey::kNoiseLight, 11);
    Six six{Picture(w, h), Picture(w, h), Picture(w, h), Picture(w, h), Picture(w, h), Picture(w, h)};
    for (int i = 0; i < 6; ++i) {
        six[i].bytes = scene.captures[i];
    }
    return six;
}

Picture Expected(const Six& six) {
    Picture out(six[0].width, six[0].height);
    keying::KeyingPass(six[0].bytes.data(), six[1].bytes.data(), six[2].bytes.data(), six[3].bytes.data(),
                       six[4].bytes.data(), six[5].bytes.data(), out.bytes.data(), out.bytes.size());
    return out;
}

// Writes frames[k][role] as six files named <role><suffix>; returns the six paths.
std::vector<std::string> WriteInputs(const TempDir& dir, const std::vector<Six>& frames, const std::string& suffix,
                                     int firstNumber = 0) {
    std::vector<std::string> paths;
    for (int role = 0; role < 6; ++role) {
        std::vector<Picture> sequence;
        for (const Six& six : frames) sequence.push_back(six[role]);
        paths.push_back(dir / (std::string(nolukey::kRoles[role]) + suffix));
        WriteFrames(paths.back(), sequence, firstNumber);
    }
    return paths;
}

std::vector<std::string> KeyArgs(const std::vector<std::string>& inputs, const std::string& output) {
    std::vector<std::string> args = {"key"};
    for (int role = 0; role < 6; ++role) {
        args.push_back(std::string("--") + nolukey::kRoles[role]);
        args.push_back(inputs[role]);
    }
    args.push_back("-o");
    args.push_back(output);
    return args;
}

void ExpectSame(const Picture& actual, const Picture& expected, const std::string& what) {
    std::string where;
    EXPECT_TRUE(media_test::SamePixels(actual, expected, &where)) << what << ": " << where;
}

TEST(NolukeyKey, PngInPngOutEqualsTheKeyingPass) {
    TempDir dir;
    Six six = NoiseSix(37, 23, 100);  // odd width: rows are padded inside the host
    // Some backdrop (green captures 255, red ones 0) and some foreground all six agree on.
    for (int x = 0; x < 10; ++x) {
        for (int role = 0; role < 6; ++role) {
            six[role].Pixel(x, 0)[1] = x < 5 ? (role < 3 ? 0 : 255) : 77;
        }
    }
    const auto inputs = WriteInputs(dir, {six}, ".png");
    auto args = KeyArgs(inputs, dir / "keyed.png");
    args.insert(args.end(), {"--preview", dir / "preview.png", "--background", "#336699", "--threads", "3"});
    const Outcome run = Nolukey(dir, args);
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_NE(run.out.find("keyed frames 0 to 0"), std::string::npos) << run.out;

    const Picture expected = Expected(six);
    const auto keyed = ReadFrames(dir / "keyed.png");
    ASSERT_EQ(keyed.size(), 1u);
    ExpectSame(keyed[0], expected, "keyed.png");

    // The preview shows the colour through clear pixels and the keyed colour on opaque ones.
    const auto preview = ReadFrames(dir / "preview.png");
    ASSERT_EQ(preview.size(), 1u);
    int clear = 0, opaque = 0;
    for (int y = 0; y < expected.height; ++y) {
        for (int x = 0; x < expected.width; ++x) {
            const std::uint8_t* k = expected.Pixel(x, y);
            const std::uint8_t* p = preview[0].Pixel(x, y);
            if (k[3] == 0) {
                ++clear;
                EXPECT_EQ((std::array<int, 4>{p[0], p[1], p[2], p[3]}), (std::array<int, 4>{0x99, 0x66, 0x33, 255}));
            } else if (k[3] == 255) {
                ++opaque;
                EXPECT_EQ((std::array<int, 4>{p[0], p[1], p[2], p[3]}), (std::array<int, 4>{k[0], k[1], k[2], 255}));
            }
        }
    }
    EXPECT_GT(clear, 0);
    EXPECT_GT(opaque, 0);
}

// Chunks keyed separately, as on several machines, fill one sequence that keeps the inputs' numbers.
TEST(NolukeyKey, NumberedSequenceChunksKeepTheirFrameNumbers) {
    TempDir dir;
    std::vector<Six> frames;
    for (int i = 0; i < 5; ++i) frames.push_back(SceneSix(i, 48, 32));
    const auto inputs = WriteInputs(dir, frames, "_%03d.png", 7);  // frames 7..11
    std::filesystem::create_directory(dir / "out");
    const std::string output = dir / "out/keyed_%03d.png";
    for (const auto& [range, threads] : {std::pair{"9:11", "3"}, std::pair{"7:8", "1"}}) {
        auto args = KeyArgs(inputs, output);
        args.insert(args.end(), {"--frames", range, "--threads", threads});
        const Outcome run = Nolukey(dir, args);
        ASSERT_EQ(run.code, 0) << range << ": " << run.err;
    }
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir / "out")) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"keyed_007.png", "keyed_008.png", "keyed_009.png", "keyed_010.png",
                                               "keyed_011.png"}));
    for (int i = 0; i < 5; ++i) {
        const auto keyed = ReadFrames(dir / ("out/keyed_%03d.png"));
        ASSERT_EQ(keyed.size(), 5u);
        ExpectSame(keyed[i], Expected(frames[i]), "frame " + std::to_string(7 + i));
    }
}

TEST(NolukeyKey, Ffv1MkvRoundTripIsExact) {
    TempDir dir;
    std::vector<Six> frames;
    for (int i = 0; i < 3; ++i) frames.push_back(NoiseSix(40, 30, 10 * i + 1));
    const auto inputs = WriteInputs(dir, frames, ".mkv");
    auto args = KeyArgs(inputs, dir / "keyed.mkv");
    args.insert(args.end(), {"--threads", "2"});
    const Outcome run = Nolukey(dir, args);
    ASSERT_EQ(run.code, 0) << run.err;
    const auto keyed = ReadFrames(dir / "keyed.mkv");
    ASSERT_EQ(keyed.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        ExpectSame(keyed[i], Expected(frames[i]), "frame " + std::to_string(i));
    }
}

// ProRes 4444 codes alpha losslessly and colour lossily; on camera-like pictures the
// colour stays within 3 code values of the keyed bytes.
TEST(NolukeyKey, ProResMovKeepsAlphaExactAndColourClose) {
    constexpr int kColourBound = 3;  // measured: 1
    TempDir dir;
    std::vector<Six> frames;
    for (int i = 0; i < 3; ++i) frames.push_back(SceneSix(2 * i, 96, 64));
    const auto inputs = WriteInputs(dir, frames, "_%02d.png");
    const Outcome run = Nolukey(dir, KeyArgs(inputs, dir / "keyed.mov"));
    ASSERT_EQ(run.code, 0) << run.err;
    const auto keyed = ReadFrames(dir / "keyed.mov");
    ASSERT_EQ(keyed.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        const Picture expected = Expected(frames[i]);
        EXPECT_EQ(media_test::MaxChannelError(keyed[i], expected, 3), 0) << "alpha, frame " << i;
        for (int channel = 0; channel < 3; ++channel) {
            EXPECT_LE(media_test::MaxChannelError(keyed[i], expected, channel), kColourBound)
                << "channel " << channel << ", frame " << i;
        }
    }
}

// A BT.709-tagged YUV video keyed with itself six times: the result is its colour, which
// must be read with the BT.709 matrix (swscale would take BT.601 unless told).
TEST(NolukeyKey, Bt709TaggedYuvIsConvertedWithItsMatrix) {
    TempDir dir;
    media_test::YuvVideo video;
    video.space = AVCOL_SPC_BT709;
    video.range = AVCOL_RANGE_MPEG;
    video.y = 100;
    video.u = 90;
    video.v = 200;
    const std::string input = dir / "yuv709.mkv";
    media_test::WriteYuvVideo(input, video);
    auto args = KeyArgs(std::vector<std::string>(6, input), dir / "keyed.png");
    args.insert(args.end(), {"--frames", "1:1"});
    const Outcome run = Nolukey(dir, args);
    ASSERT_EQ(run.code, 0) << run.err;
    const auto keyed = ReadFrames(dir / "keyed.png");
    ASSERT_EQ(keyed.size(), 1u);

    const double y = 1.164384 * (video.y - 16), u = video.u - 128.0, v = video.v - 128.0;
    const double bt709[3] = {y + 2.112402 * u, y - 0.213249 * u - 0.532909 * v, y + 1.792741 * v};  // B, G, R
    const double bt601[3] = {y + 2.017232 * u, y - 0.391762 * u - 0.812968 * v, y + 1.596027 * v};
    const std::uint8_t* px = keyed[0].Pixel(5, 3);
    double worst601 = 0;
    for (int ch = 0; ch < 3; ++ch) {
        EXPECT_NEAR(px[ch], std::clamp(bt709[ch], 0.0, 255.0), 2.0) << "channel " << ch;
        worst601 = std::max(worst601, std::abs(px[ch] - std::clamp(bt601[ch], 0.0, 255.0)));
    }
    EXPECT_GT(worst601, 10.0) << "the colour matches BT.601 as well: the case does not tell the matrices apart";
    EXPECT_EQ(px[3], 255);
}

// Every bad input: its exit code, one line naming the file, and nothing at the output path.
TEST(NolukeyKey, BadInputsFailCleanly) {
    TempDir dir;
    const auto small = WriteInputs(dir, {NoiseSix(16, 8, 1), NoiseSix(16, 8, 2), NoiseSix(16, 8, 3)}, "_%02d.png");
    WriteFrames(dir / "wide.png", {media_test::NoisePicture(20, 8, 9)});
    WriteFrames(dir / "one.png", {media_test::NoisePicture(16, 8, 4)});
    const std::string late = dir / "late_%02d.png";
    WriteFrames(late, {media_test::NoisePicture(16, 8, 5)}, 5);
    media_test::WriteBytes(dir / "notes.png", "these are not pixels\n");
    std::filesystem::create_directory(dir / "folder.png");
    std::filesystem::create_directory(dir / "out");
    const std::string out = dir / "out";
    const std::string missing = dir / "missing_%02d.png";

    struct Case {
        const char* name;
        std::vector<std::string> args;
        int code;
        std::string message;  // a part of the one line on stderr
    };
    const auto with = [&](int role, const std::string& path, const std::string& output,
                          std::vector<std::string> extra = {}) {
        auto inputs = small;
        if (role >= 0) inputs[role] = path;
        auto args = KeyArgs(inputs, output);
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    };
    const std::vector<Case> cases = {
        {"missing input", with(1, dir / "nowhere.png", out + "/k.png", {"--frames", "0:0"}), 1, "nowhere.png"},
        {"missing sequence", with(4, missing, out + "/k.mkv"), 1, "missing_%02d.png"},
        {"not media", with(5, dir / "notes.png", out + "/k.png", {"--frames", "0:0"}), 1, "notes.png"},
        {"a folder", with(0, dir / "folder.png", out + "/k.png"), 1, "folder.png"},
        {"sizes differ", with(3, dir / "wide.png", out + "/k.png", {"--frames", "0:0"}), 1, "wide.png: size 20x8"},
        {"too few frames", with(-1, "", out + "/k_%02d.png", {"--frames", "1:3"}), 1, "red1_%02d.png: has 3 frames, too few for frames 1 to 3"},
        {"fewer frames than red1", with(2, dir / "one.png", out + "/k.mkv"), 1, "one.png: has 1 frame"},
        {"frame before the first", with(0, late, out + "/k.png", {"--frames", "0:0"}), 1,
         "late_%02d.png: frame 0 is before its first frame, 5"},
        {"unsupported output, checked first", with(0, dir / "nowhere.png", out + "/k.avi"), 1, "k.avi: unsupported"},
        {"unsupported preview", with(-1, "", out + "/k.mkv", {"--preview", out + "/p.gif"}), 1, "p.gif: unsupported"},
        {"one .png for many frames", with(-1, "", out + "/k.png"), 1, "k.png: a .png output holds one frame"},
        {"unwritable output", with(-1, "", dir / "no/such/folder/k.mkv"), 1, "no/such/folder"},
        {"bad colour", with(-1, "", out + "/k.mkv", {"--preview", out + "/p.mkv", "--background", "#12"}), 1, "#12"},
        {"background of another size",
         with(-1, "", out + "/k.mkv", {"--preview", out + "/p.mkv", "--background", dir / "wide.png"}), 1,
         "wide.png: background size 20x8"},
        {"plugin that is not one", with(-1, "", out + "/k.mkv", {"--plugin", dir / "notes.png"}), 1, "notes.png"},
        {"missing option", {"key", "--red1", small[0], "-o", out + "/k.mkv"}, 2, "--red2"},
        {"backwards range", with(-1, "", out + "/k.mkv", {"--frames", "2:1"}), 2, "--frames"},
        {"no threads", with(-1, "", out + "/k.mkv", {"--threads", "0"}), 2, "--threads"},
        {"no command", {}, 2, "subcommand"},
    };
    for (const Case& c : cases) {
        const Outcome run = Nolukey(dir, c.args);
        EXPECT_EQ(run.code, c.code) << c.name << ": " << run.err;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << c.name << ": " << run.err;
        if (c.code == 1) {
            EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << c.name << ": " << run.err;
        }
        EXPECT_EQ(run.out, "") << c.name;
        EXPECT_TRUE(std::filesystem::is_empty(out)) << c.name << " left something in the output folder";
    }
}

TEST(NolukeyCommandLine, HelpAndVersionSucceed) {
    TempDir dir;
    const Outcome help = Nolukey(dir, {"key", "--help"});
    EXPECT_EQ(help.code, 0);
    EXPECT_NE(help.out.find("Example:"), std::string::npos);
    EXPECT_NE(help.out.find("Exit codes"), std::string::npos);
    const Outcome version = Nolukey(dir, {"--version"});
    EXPECT_EQ(version.code, 0);
    EXPECT_NE(version.out.find("nolukey 1."), std::string::npos) << version.out;
}

// The demo keys through the same path as `nolukey key`; on a small render its matte must
// come close to the truth it measures against.
TEST(NolukeyDemo, KeysTheSampleAndMeasuresIt) {
    TempDir dir;
    nolukey::DemoOptions options;
    options.dir = dir.path();
    options.frames = 3;
    options.width = 160;
    options.height = 90;
    options.threads = 2;
    options.plugin = NOLU_PLUGIN_PATH;
    std::FILE* report = std::tmpfile();
    ASSERT_NE(report, nullptr);
    const nolukey::MatteQuality q = nolukey::RunDemo(options, report);
    std::fclose(report);
    EXPECT_EQ(q.frames, 3);
    EXPECT_LT(q.mseAll, 0.001);
    EXPECT_LT(q.mseSemiTransparent, 0.002);
    EXPECT_LT(q.meanColourError, 4.0);
    EXPECT_GT(q.semiTransparentPixels, 0);
    for (const char* name : {"keyed_0002.png", "keyed.mov", "preview_0002.png", "captures/green3_0002.png"}) {
        EXPECT_TRUE(std::filesystem::exists(dir / name)) << name;
    }
    EXPECT_EQ(ReadFrames(dir / "keyed.mov").size(), 3u);
}

}  // namespace
