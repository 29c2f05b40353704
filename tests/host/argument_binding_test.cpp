// How the host binds a call's positional and named arguments to a function's
// signature, and the errors a call gets when they do not fit.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/environment.h"
#include "host/signature.h"
#include "host/source_clip.h"

namespace {

// Keeps what the host handed to the function.
struct Recorder {
    std::vector<AVSValue> args;
};

AVSValue Record(AVSValue args, void* user_data, IScriptEnvironment*) {
    auto* r = static_cast<Recorder*>(user_data);
    r->args.clear();
    for (int i = 0; i < args.ArraySize(); ++i) r->args.push_back(args[i]);
    return AVSValue(static_cast<int>(r->args.size()));
}

// A description of what was bound, one letter-and-value per parameter: "c:clip i:3 f:2.5 s:x b:1 v".
std::string Show(const std::vector<AVSValue>& args, IClip* clip) {
    std::string out;
    for (const AVSValue& v : args) {
        if (!out.empty()) out += ' ';
        switch (v.Type()) {
            case 'c': out += v.AsClip().get() == clip ? "c:clip" : "c:other"; break;
            case 'i': out += "i:" + std::to_string(v.AsInt()); break;
            case 'f': {
                std::string f = std::to_string(v.AsFloat());
                f.erase(f.find_last_not_of('0') + 1);
                out += "f:" + f;
                break;
            }
            case 's': out += std::string("s:") + v.AsString(); break;
            case 'b': out += v.AsBool() ? "b:1" : "b:0"; break;
            default: out += v.Type(); break;
        }
    }
    return out;
}

class BindingTest : public ::testing::Test {
protected:
    void SetUp() override {
        // One unnamed (required, positional-only) clip, then named optional parameters.
        env.AddFunction("Blend", "c[amount]f[label]s[invert]b[passes]i", &Record, &recorder);
    }
    std::string Call(const std::vector<host::Argument>& args) {
        try {
            env.Invoke("Blend", args);
        } catch (const AvisynthError& e) {
            return std::string("error: ") + e.what();
        }
        return Show(recorder.args, clip.get());
    }

    host::Environment env;
    Recorder recorder;
    PClip clip = new host::MemoryClip(host::MakeVideoInfo(VideoInfo::CS_BGR32, 2, 2, 1), {std::vector<std::uint8_t>(16)});
};

TEST_F(BindingTest, ArgumentsArriveInSignatureOrder) {
    const PClip other = new host::MemoryClip(host::MakeVideoInfo(VideoInfo::CS_BGR32, 2, 2, 1), {std::vector<std::uint8_t>(16)});
    struct Case {
        const char* name;
        std::vector<host::Argument> args;
        const char* bound;
    };
    const Case kCases[] = {
        {"only the clip", {{"", clip}}, "c:clip v v v v"},
        {"named in reverse order", {{"", clip}, {"passes", 3}, {"invert", true}, {"label", "x"}, {"amount", 0.25}},
         "c:clip f:0.25 s:x b:1 i:3"},
        {"all by position", {{"", clip}, {"", 0.5}, {"", "y"}, {"", false}, {"", 2}}, "c:clip f:0.5 s:y b:0 i:2"},
        {"positional then named", {{"", clip}, {"", 1.5}, {"passes", 7}}, "c:clip f:1.5 v v i:7"},
        {"named before positional", {{"label", "z"}, {"", clip}}, "c:clip v s:z v v"},
        {"an int where a float goes", {{"", clip}, {"amount", 2}}, "c:clip f:2. v v v"},
        {"another clip", {{"", other}}, "c:other v v v v"},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Call(c.args), c.bound);
    }
}

TEST_F(BindingTest, ArgumentsThatDoNotFitAreRefusedClearly) {
    struct Case {
        const char* name;
        std::vector<host::Argument> args;
        const char* error;
    };
    const Case kCases[] = {
        {"unknown name", {{"", clip}, {"amout", 0.5}}, "error: Blend: unknown argument \"amout\""},
        {"repeated name", {{"", clip}, {"label", "a"}, {"label", "b"}}, "error: Blend: argument \"label\" is given twice"},
        {"by position and by name", {{"", clip}, {"", 0.5}, {"amount", 0.5}},
         "error: Blend: argument \"amount\" is given twice"},
        {"string for an int", {{"", clip}, {"passes", "3"}}, "error: Blend: argument \"passes\" must be an int, not a string"},
        {"float for an int", {{"", clip}, {"passes", 3.0}}, "error: Blend: argument \"passes\" must be an int, not a float"},
        {"int for a clip", {{"", 4}}, "error: Blend: argument 1 must be a clip, not an int"},
        {"int for a bool", {{"", clip}, {"invert", 1}}, "error: Blend: argument \"invert\" must be a bool, not an int"},
        {"undefined value", {{"", clip}, {"label", AVSValue()}}, "error: Blend: argument \"label\" must be a string, not undefined"},
        {"too many", {{"", clip}, {"", 0.5}, {"", "s"}, {"", true}, {"", 1}, {"", 2}},
         "error: Blend: too many arguments (6 given by position, 5 accepted)"},
        {"required one left out", {{"amount", 0.5}}, "error: Blend: argument 1 is missing"},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Call(c.args), c.error);
    }
}

TEST_F(BindingTest, UnknownFunctionIsNamed) {
    try {
        env.Invoke("Blur", {});
        FAIL() << "no error";
    } catch (const AvisynthError& e) {
        EXPECT_STREQ(e.what(), "Invoke: there is no function named \"Blur\"");
    }
}

TEST_F(BindingTest, StringsOutliveTheCallersBuffer) {
    std::string label = "temporary";
    env.Invoke("Blend", {{"", clip}, {"label", label.c_str()}});
    label.assign(label.size(), '#');
    EXPECT_STREQ(recorder.args[2].AsString(), "temporary");
}

TEST(Signature, BrokenSignaturesAreRefusedAtRegistration) {
    struct Case {
        const char* signature;
        const char* error;
    };
    const Case kCases[] = {
        {"[red1c", "F: signature has an unclosed '['"},
        {"[]c", "F: signature has an empty parameter name"},
        {"[a]c[a]i", "F: signature names \"a\" twice"},
        {"[a]x", "F: signature needs a type letter (c, i, f, b or s) at offset 3"},
        {"c[b]", "F: signature needs a type letter (c, i, f, b or s) at offset 4"},
        {"cc*", "F: signature needs a type letter (c, i, f, b or s) at offset 2"},
    };
    host::Environment env;
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.signature);
        try {
            env.AddFunction("F", c.signature, &Record, nullptr);
            ADD_FAILURE() << "accepted";
        } catch (const AvisynthError& e) {
            EXPECT_STREQ(e.what(), c.error);
        }
    }
    EXPECT_TRUE(env.Functions().empty());
}

TEST(Signature, ParsesNamesAndTypes) {
    const std::vector<host::Parameter> params = host::ParseSignature("F", "c[strength]f[name]si");
    ASSERT_EQ(params.size(), 4u);
    const std::pair<const char*, char> expected[] = {{"", 'c'}, {"strength", 'f'}, {"name", 's'}, {"", 'i'}};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(params[i].name, expected[i].first);
        EXPECT_EQ(params[i].type, expected[i].second);
    }
    EXPECT_TRUE(host::ParseSignature("F", "").empty());
}

TEST(FunctionTable, ALaterRegistrationOfANameReplacesTheEarlier) {
    host::Environment env;
    Recorder a, b;
    env.AddFunction("F", "i", &Record, &a);
    env.AddFunction("G", "", &Record, nullptr);
    env.AddFunction("F", "[x]i", &Record, &b);
    const std::vector<host::FunctionInfo> functions = env.Functions();
    ASSERT_EQ(functions.size(), 2u);
    EXPECT_EQ(functions[0].name, "F");
    EXPECT_EQ(functions[0].signature, "[x]i");
    EXPECT_EQ(functions[0].user_data, &b);
    EXPECT_EQ(env.Invoke("F", {{"x", 5}}).AsInt(), 1);
    EXPECT_TRUE(a.args.empty());
    ASSERT_TRUE(env.FindFunction("G"));
    EXPECT_FALSE(env.FindFunction("H"));
}

}  // namespace
