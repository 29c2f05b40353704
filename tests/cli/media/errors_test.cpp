// Bad inputs and bad outputs: one MediaError line naming the file, and nothing left behind.

#include "cli/media/media.h"
#include "fixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include <sys/stat.h>
#include <unistd.h>

namespace {
using media::MediaError;
using media::Sink;
using media::Source;
using media_test::NoisePicture;
using media_test::Picture;
using media_test::TempDir;

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Runs f, which must throw MediaError with one line that starts with "<file>: " and holds `words`.
void ExpectMediaError(const std::function<void()>& f, const std::string& file, const std::string& words) {
    try {
        f();
        ADD_FAILURE() << "no MediaError for " << file;
    } catch (const MediaError& e) {
        const std::string message = e.what();
        EXPECT_EQ(message.rfind(file + ": ", 0), 0u) << message;
        EXPECT_EQ(message.find('\n'), std::string::npos) << message;
        EXPECT_NE(message.find(words), std::string::npos) << message << " lacks: " << words;
    }
}

void WritePng(const std::string& path, const Picture& p) {
    auto sink = Sink::Create(path, p.width, p.height, {});
    sink->WriteFrame(p.bytes.data(), p.pitch, 0);
    sink->Finish();
}

struct BadInput {
    const char* name;
    const char* path;                                   // inside the test folder
    std::function<void(const TempDir&)> prepare;        // makes the bad file
    const char* words;                                  // part of the message
    const char* named = nullptr;                        // the file the message names, when not `path`
};
void PrintTo(const BadInput& c, std::ostream* os) { *os << c.name; }

class BadInputs : public ::testing::TestWithParam<BadInput> {};

TEST_P(BadInputs, OpenThrowsOneLineNamingTheFile) {
    const BadInput& c = GetParam();
    TempDir dir;
    if (c.prepare) c.prepare(dir);
    const std::string path = dir / c.path;
    ExpectMediaError([&] { Source::Open(path); }, c.named ? dir / c.named : path, c.words);
}

INSTANTIATE_TEST_SUITE_P(
    Files, BadInputs,
    ::testing::Values(
        BadInput{"missing", "nope.png", nullptr, "No such file"},
        BadInput{"missing_video", "nope.mkv", nullptr, "No such file"},
        BadInput{"text_named_png", "notes.png",
                 [](const TempDir& d) { media_test::WriteBytes(d / "notes.png", "shopping list: eggs, milk\n"); },
                 "Invalid data"},
        BadInput{"empty_png", "empty.png", [](const TempDir& d) { media_test::WriteBytes(d / "empty.png", ""); }, ""},
        BadInput{"empty_mkv", "empty.mkv", [](const TempDir& d) { media_test::WriteBytes(d / "empty.mkv", ""); }, ""},
        BadInput{"truncated_png", "cut.png",
                 [](const TempDir& d) {
                     WritePng(d / "whole.png", NoisePicture(32, 32, 3));
                     const std::string bytes = ReadAll(d / "whole.png");
                     media_test::WriteBytes(d / "cut.png", bytes.substr(0, bytes.size() / 2));
                 },
                 ""},
        BadInput{"folder", "sub", [](const TempDir& d) { std::filesystem::create_directory(d / "sub"); }, "folder"},
        BadInput{"pattern_without_files", "shot_%04d.png", nullptr, "no file matches"},
        BadInput{"sequence_frame_not_media", "s_%02d.png",
                 [](const TempDir& d) { media_test::WriteBytes(d / "s_03.png", "not a picture"); }, "Invalid data",
                 "s_03.png"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BadInputs, UnreadableFile) {
    if (::geteuid() == 0) GTEST_SKIP() << "root reads every file";
    TempDir dir;
    const std::string path = dir / "locked.png";
    WritePng(path, NoisePicture(4, 4, 1));
    ::chmod(path.c_str(), 0);
    ExpectMediaError([&] { Source::Open(path); }, path, "Permission denied");
}

TEST(BadRequests, FrameOutsideTheInputOrRowTooShort) {
    TempDir dir;
    const std::string path = dir / "one.png";
    WritePng(path, NoisePicture(4, 3, 1));
    auto source = Source::Open(path);
    Picture p(4, 3);
    ExpectMediaError([&] { source->ReadFrame(1, p.bytes.data(), p.pitch); }, path, "frame 1");
    ExpectMediaError([&] { source->ReadFrame(-1, p.bytes.data(), p.pitch); }, path, "frame -1");
    ExpectMediaError([&] { source->ReadFrame(0, p.bytes.data(), 15); }, path, "too small");
}

TEST(BadRequests, SequenceFrameOfAnotherSize) {
    TempDir dir;
    WritePng(dir / "f_1.png", NoisePicture(4, 4, 1));
    WritePng(dir / "f_2.png", NoisePicture(5, 4, 2));
    auto source = Source::Open(dir / "f_%d.png");
    ASSERT_EQ(source->FrameCount(), 2);
    Picture p(5, 4);
    ExpectMediaError([&] { source->ReadFrame(1, p.bytes.data(), p.pitch); }, dir / "f_2.png", "5x4");
}

TEST(Supports, KnowsTheOutputKindsByName) {
    for (const char* yes : {"a.png", "A.PNG", "dir/a.mov", "a.mkv", "out_%04d.png", "f%d.png", "100%%_%03d.png"})
        EXPECT_TRUE(Sink::Supports(yes)) << yes;
    for (const char* no : {"a.avi", "a", "a.mp4", "out_%04d.mov", "out_%04d_%02d.png", "a.png.txt", "dir.png/a"})
        EXPECT_FALSE(Sink::Supports(no)) << no;
}

struct BadOutput {
    const char* name;
    const char* path;  // inside the test folder
    int width, height;
    const char* words;
};
void PrintTo(const BadOutput& c, std::ostream* os) { *os << c.name; }

class BadOutputs : public ::testing::TestWithParam<BadOutput> {};

TEST_P(BadOutputs, CreateThrowsAndLeavesNothing) {
    const BadOutput& c = GetParam();
    TempDir dir;
    const std::string path = dir / c.path;
    ExpectMediaError([&] { Sink::Create(path, c.width, c.height, {}); }, path, c.words);
    EXPECT_TRUE(dir.Names().empty());
}

TEST(BadOutputs, FolderThatIsAFile) {
    TempDir dir;
    media_test::WriteBytes(dir / "notes.txt", "x");
    for (const char* name : {"notes.txt/out.png", "notes.txt/out.mkv", "notes.txt/out.mov", "notes.txt/o_%03d.png"})
        ExpectMediaError([&] { Sink::Create(dir / name, 8, 8, {}); }, dir / name, "Not a directory");
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"notes.txt"});
}

INSTANTIATE_TEST_SUITE_P(
    Paths, BadOutputs,
    ::testing::Values(BadOutput{"unsupported_extension", "out.avi", 8, 8, ".mov"},
                      BadOutput{"no_extension", "out", 8, 8, "unsupported"},
                      BadOutput{"pattern_for_video", "out_%04d.mov", 8, 8, "unsupported"},
                      BadOutput{"png_in_missing_folder", "missing/out.png", 8, 8, "No such file"},
                      BadOutput{"sequence_in_missing_folder", "missing/out_%04d.png", 8, 8, "No such file"},
                      BadOutput{"mov_in_missing_folder", "missing/out.mov", 8, 8, "No such file"},
                      BadOutput{"mkv_in_missing_folder", "missing/out.mkv", 8, 8, "No such file"},
                      BadOutput{"empty_picture", "out.mkv", 0, 8, "0x8"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BadOutputs, UnwritableFolder) {
    if (::geteuid() == 0) GTEST_SKIP() << "root writes everywhere";
    TempDir dir;
    std::filesystem::create_directory(dir / "ro");
    ::chmod((dir / "ro").c_str(), 0555);
    for (const char* name : {"ro/out.png", "ro/out.mkv", "ro/out.mov", "ro/o_%03d.png"})
        ExpectMediaError([&] { Sink::Create(dir / name, 8, 8, {}); }, dir / name, "Permission denied");
    ::chmod((dir / "ro").c_str(), 0755);
}

// A sink dropped before Finish, or whose Finish failed, leaves the output path as it was:
// no new file, an older file untouched, no temporary files.
class AbandonedSink : public ::testing::TestWithParam<const char*> {};

TEST_P(AbandonedSink, LeavesTheOutputPathAsItWas) {
    TempDir dir;
    const std::string path = dir / GetParam();
    const Picture p = NoisePicture(16, 16, 5);
    {
        auto sink = Sink::Create(path, 16, 16, {});
        sink->WriteFrame(p.bytes.data(), p.pitch, 0);
    }
    EXPECT_TRUE(dir.Names().empty());

    media_test::WriteBytes(path, "previous result");
    {
        auto sink = Sink::Create(path, 16, 16, {});
        sink->WriteFrame(p.bytes.data(), p.pitch, 0);
    }
    EXPECT_EQ(ReadAll(path), "previous result");

    {
        auto sink = Sink::Create(path, 16, 16, {});
        ExpectMediaError([&] { sink->Finish(); }, path, "no frame");
    }
    EXPECT_EQ(ReadAll(path), "previous result");
    EXPECT_EQ(dir.Names().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Kinds, AbandonedSink, ::testing::Values("still.png", "clip.mov", "clip.mkv"),
                         [](const auto& info) {
                             std::string name = info.param;
                             std::replace(name.begin(), name.end(), '.', '_');
                             return name;
                         });

TEST(AbandonedSink, SequenceKeepsOnlyCompleteFrames) {
    TempDir dir;
    const Picture p = NoisePicture(8, 8, 5);
    {
        auto sink = Sink::Create(dir / "f_%02d.png", 8, 8, {});
        sink->WriteFrame(p.bytes.data(), p.pitch, 4);
        sink->WriteFrame(p.bytes.data(), p.pitch, 5);
        ExpectMediaError([&] { sink->WriteFrame(p.bytes.data(), p.pitch, -1); }, dir / "f_%02d.png", "negative");
    }
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"f_04.png", "f_05.png"}));
}

TEST(StillPng, SecondFrameIsRefusedAndTheFirstStillWritten) {
    TempDir dir;
    const std::string path = dir / "still.png";
    const Picture a = NoisePicture(8, 8, 1), b = NoisePicture(8, 8, 2);
    auto sink = Sink::Create(path, 8, 8, {});
    sink->WriteFrame(a.bytes.data(), a.pitch, 0);
    ExpectMediaError([&] { sink->WriteFrame(b.bytes.data(), b.pitch, 1); }, path, "numbered pattern");
    sink->Finish();
    auto source = Source::Open(path);
    Picture back(8, 8);
    source->ReadFrame(0, back.bytes.data(), back.pitch);
    std::string where;
    EXPECT_TRUE(media_test::SamePixels(a, back, &where)) << where;
}

}  // namespace
