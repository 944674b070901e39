// The output types by their short names ("mp3", "wav", ...): the names a user
// types for the ten output types, in type-number order.
#pragma once

#include <string>

namespace kestrel {

// The short name of an output type (0..9); "" for an unknown type.
const char* outputTypeName(int outputType);
// The output type of a short name; -1 for a name that is none.
int outputTypeOfName(const std::string& name);
// Every short name in type order, separated by single blanks.
std::string outputTypeNames();

} // namespace kestrel
