// The type description of the control: its dispatch interface (every member in
// declaration order with its kind, parameters, by-reference marks and types) and the
// safety interface, as JSON. Generated from the dispatch table itself, so the
// description and what hosts can call never drift apart.
#pragma once

#include <string>

namespace zav {

std::string TypeLibraryJson();

}  // namespace zav
