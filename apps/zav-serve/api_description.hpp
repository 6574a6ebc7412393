// GET /api/openapi.json: the OpenAPI description of this server's HTTP interface, the
// share/zav/openapi.json of the tree the program sits in (beside the build folder, or the
// installed share/zav/), read at its first request and kept.
#pragma once

#include "http_layer.hpp"

namespace zavserve {

inline constexpr const char* kApiDescriptionPath = "/api/openapi.json";

// 200 with the description, else 404 (the error handler writes its refusal).
void AnswerApiDescription(Response& res);

}  // namespace zavserve
