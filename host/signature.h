// Script-function signatures in the host's grammar and the binding of a call's
// arguments to them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "plugin/host_interface.h"

namespace host {

// One parameter: `[name]` plus a type letter (c clip, i int, f float, b bool, s string).
// A parameter without a name can only be passed by position, and must be.
struct Parameter {
    std::string name;
    char type;
};

// Parses a signature such as "[red1]c[red2]c" or "ci[strength]f".
// Throws AvisynthError, naming the function, when the grammar is broken.
std::vector<Parameter> ParseSignature(std::string_view function, std::string_view signature);

// A call's argument: positional when `name` is empty, named otherwise.
struct Argument {
    std::string name;
    AVSValue value;
};

// Binds positional arguments in order, then named ones by name, and returns one
// value per parameter in signature order (undefined where nothing was passed).
// Ints given for float parameters become floats. Throws AvisynthError for an unknown
// or repeated name, a value of the wrong type, too many arguments or a missing
// unnamed one.
std::vector<AVSValue> BindArguments(std::string_view function, const std::vector<Parameter>& params,
                                    const std::vector<Argument>& args);

// The word for a type letter in messages ("clip", "int", ...).
const char* TypeName(char type);

}  // namespace host
