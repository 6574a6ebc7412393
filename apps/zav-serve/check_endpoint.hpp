// POST /api/check?name=NAME[&mask=1]: a payment file checked as `zav check --all --json`
// checks it, answered 200 with what that command prints (verdict, capture line, parameter
// string, every problem with what was found and expected, the hint); nothing is stored.
//
// NAME is the page's archive name (33501e01.m1.s0870.r...zip, the body then the page's zip,
// unpacked as an upload is) or the payment file's own name (letters, digits, '.', '-' and
// '_', at most 64, not starting with '.'; the body then the file's bytes), which the control
// compares with the file's header as `zav check` does. mask=1 hides personal fields in the
// values found, as --mask does.
//
// A check is admitted as an upload is: its head screened first by the same rules (framing,
// origin, Content-Type, credentials), then an upload slot, the uploader's share of them, its
// daily quota and room on the disk; it runs on the check pool in a check thread's own
// folder, emptied after it. Any valid credentials may check any file: a check reads
// nothing stored and stores nothing, so no employer's entitlement is asked. What it made the
// server take (the body and the file unpacked) counts against the uploader's quota.
#pragma once

#include <optional>

#include "api/upload.hpp"
#include "guarded_stream.hpp"
#include "http_layer.hpp"
#include "receiver.hpp"
#include "uploaders.hpp"

namespace zavserve {

inline constexpr const char* kCheckPath = "/api/check";

// What of a check's head the screening of uploads leaves: its name and mask. The refusal,
// if any.
std::optional<zav::UploadAnswer> ScreenCheck(const Request& req);

// Reads, admits and checks the body of a screened check by `uploader`. Never throws.
zav::UploadAnswer AnswerCheck(const Request& req, const ContentReader& read,
                              const Uploader& uploader, Receiver& receiver,
                              const GuardedStream& stream);

}  // namespace zavserve
