#include "host/signature.h"

#include <algorithm>
#include <cstddef>

namespace host {
namespace {

[[noreturn]] void Fail(std::string_view function, const std::string& what) {
    throw AvisynthError(std::string(function) + ": " + what);
}

bool IsTypeLetter(char c) { return c == 'c' || c == 'i' || c == 'f' || c == 'b' || c == 's'; }

bool Accepts(char type, const AVSValue& v) {
    switch (type) {
        case 'c': return v.IsClip();
        case 'i': return v.IsInt();
        case 'f': return v.IsFloat();
        case 'b': return v.IsBool();
        case 's': return v.IsString();
        default: return false;
    }
}

// "a clip", "an int", ... or "undefined".
std::string WithArticle(char type) {
    const std::string name = TypeName(type);
    if (name == "undefined") return name;
    return (name[0] == 'i' || name[0] == 'a' ? "an " : "a ") + name;
}

std::string Describe(const Parameter& p, std::size_t index) {
    return p.name.empty() ? "argument " + std::to_string(index + 1) : "argument \"" + p.name + "\"";
}

}  // namespace

const char* TypeName(char type) {
    switch (type) {
        case 'c': return "clip";
        case 'i': return "int";
        case 'f': return "float";
        case 'b': return "bool";
        case 's': return "string";
        case 'a': return "array";
        default: return "undefined";
    }
}

std::vector<Parameter> ParseSignature(std::string_view function, std::string_view signature) {
    std::vector<Parameter> params;
    std::size_t i = 0;
    while (i < signature.size()) {
        Parameter p{{}, 0};
        if (signature[i] == '[') {
            const std::size_t close = signature.find(']', i);
            if (close == std::string_view::npos) Fail(function, "signature has an unclosed '['");
            p.name = std::string(signature.substr(i + 1, close - i - 1));
            if (p.name.empty()) Fail(function, "signature has an empty parameter name");
            const bool taken = std::any_of(params.begin(), params.end(),
                                           [&](const Parameter& q) { return q.name == p.name; });
            if (taken) Fail(function, "signature names \"" + p.name + "\" twice");
            i = close + 1;
        }
        if (i == signature.size() || !IsTypeLetter(signature[i])) {
            Fail(function, "signature needs a type letter (c, i, f, b or s) at offset " + std::to_string(i));
        }
        p.type = signature[i++];
        params.push_back(std::move(p));
    }
    return params;
}

std::vector<AVSValue> BindArguments(std::string_view function, const std::vector<Parameter>& params,
                                    const std::vector<Argument>& args) {
    std::vector<AVSValue> bound(params.size());
    std::vector<bool> given(params.size(), false);

    const auto place = [&](std::size_t index, const AVSValue& value) {
        const Parameter& p = params[index];
        if (given[index]) Fail(function, Describe(p, index) + " is given twice");
        if (!Accepts(p.type, value)) {
            Fail(function, Describe(p, index) + " must be " + WithArticle(p.type) + ", not " + WithArticle(value.Type()));
        }
        given[index] = true;
        bound[index] = (p.type == 'f') ? AVSValue(value.AsFloat()) : value;
    };

    std::size_t positional = 0;
    for (const Argument& a : args) {
        if (!a.name.empty()) continue;
        if (positional == params.size()) {
            const auto count = std::count_if(args.begin(), args.end(), [](const Argument& x) { return x.name.empty(); });
            Fail(function, "too many arguments (" + std::to_string(count) + " given by position, " +
                               std::to_string(params.size()) + " accepted)");
        }
        place(positional++, a.value);
    }
    for (const Argument& a : args) {
        if (a.name.empty()) continue;
        const auto it = std::find_if(params.begin(), params.end(), [&](const Parameter& p) { return p.name == a.name; });
        if (it == params.end()) Fail(function, "unknown argument \"" + a.name + "\"");
        place(static_cast<std::size_t>(it - params.begin()), a.value);
    }
    for (std::size_t i = 0; i < params.size(); ++i) {
        if (params[i].name.empty() && !given[i]) Fail(function, Describe(params[i], i) + " is missing");
    }
    return bound;
}

}  // namespace host
