// The shared interface declarations: the RGB32 test on pixel types, the host's
// indexing rule for script values, and counted references held by values and handles.
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "plugin/host_interface.h"
#include "tests/plugin/test_clips.h"

namespace {

using namespace testclips;

TEST(VideoInfo, Rgb32IsAllThreeColourSpaceBits) {
    struct Case {
        const char* name;
        int pixel_type;
        bool rgb32;
    };
    const Case kCases[] = {
        {"RGB32", VideoInfo::CS_BGR32, true},
        {"RGB32 with an extra flag", VideoInfo::CS_BGR32 | (1 << 20), true},
        {"RGB24", VideoInfo::CS_BGR24, false},
        {"YUY2", VideoInfo::CS_YUY2, false},
        {"YV12", VideoInfo::CS_YV12, false},
        {"32-bit bit without the BGR family", (1 << 1) | VideoInfo::CS_INTERLEAVED, false},
        {"32-bit BGR but planar", (1 << 1) | VideoInfo::CS_BGR | VideoInfo::CS_PLANAR, false},
        {"unknown", VideoInfo::CS_UNKNOWN, false},
    };
    for (const Case& c : kCases) {
        VideoInfo vi;
        vi.pixel_type = c.pixel_type;
        EXPECT_EQ(vi.IsRGB32(), c.rgb32) << c.name;
    }
    EXPECT_EQ(VideoInfo::CS_BGR32, 0x50000002);
}

TEST(AVSValue, IndexingGivesTheElementOrTheValueItself) {
    const AVSValue elements[] = {AVSValue(1), AVSValue(2), AVSValue("three")};
    const AVSValue array(elements, 3);
    EXPECT_EQ(array.ArraySize(), 3);
    EXPECT_EQ(array[0].AsInt(), 1);
    EXPECT_EQ(array[1].AsInt(), 2);
    EXPECT_STREQ(array[2].AsString(), "three");
    EXPECT_EQ(&array[3], &array);   // past the end: the array itself
    EXPECT_EQ(&array[-1], &array);

    const AVSValue single(7);
    EXPECT_EQ(single.ArraySize(), 1);
    EXPECT_EQ(&single[0], &single);
    EXPECT_EQ(&single[5], &single);

    const AVSValue undefined;
    EXPECT_FALSE(undefined.Defined());
    EXPECT_FALSE(undefined[2].AsClip());  // an argument left out becomes a null clip
}

TEST(AVSValue, AsGivesTheFallbackForAnotherType) {
    const AVSValue i(3), f(2.5), b(true), s("x"), v;
    EXPECT_EQ(i.AsInt(), 3);
    EXPECT_EQ(i.AsFloat(), 3.0);  // an int is a float too
    EXPECT_EQ(f.AsFloat(), 2.5);
    EXPECT_EQ(f.AsInt(-1), -1);
    EXPECT_TRUE(b.AsBool());
    EXPECT_EQ(s.AsInt(9), 9);
    EXPECT_EQ(v.AsString("none"), std::string("none"));
    EXPECT_FALSE(s.AsClip());
    EXPECT_FALSE(AVSValue(static_cast<IClip*>(nullptr)).Defined());
}

TEST(CountedReferences, EveryValueAndHandleHoldsOneUntilItGoes) {
    auto log = std::make_shared<EventLog>();
    auto* raw = new SpyClip("clip", Rgb32(2, 2), log);
    {
        AVSValue value(raw);
        {
            const AVSValue copy = value;
            AVSValue assigned(5);
            assigned = copy;
            assigned = assigned;  // self-assignment keeps the count
            PClip handle = assigned.AsClip();
            const PClip moved = std::move(handle);
            value = AVSValue(1);  // the first value lets go
            EXPECT_TRUE(log->Take().empty());
        }
        EXPECT_EQ(log->Take(), std::vector<std::string>{"clip destroyed"});
    }
    EXPECT_TRUE(log->Take().empty());
}

}  // namespace
