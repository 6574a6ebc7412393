// Problems of a payment file, as a diagnosis gathers them: every failed check of every
// record, not only the first.
//
// The record checks stop at their first failed check. A diagnosis gives the control a
// ProblemSink (ZAV::Working::problems); with one set, a failed check is noted and the
// record's next field is checked instead. Each check goes through one of two helpers:
//   if (Fail(z, kField, 123)) return 123;   // stop in a normal run, note and go on here
//   return StopRecord(z, kField, 226);      // the record cannot be read further at all
// Without a sink (every normal run) Fail answers true and the check returns as it always
// did; the sink is only looked at on a failure, so the normal path costs nothing more.
//
// A field is reported once per record: the first failure noted for a field wins, later
// ones for the same field (a value that failed its numeric test and then its comparison)
// are dropped. A field that fails its numeric test reads as zero from then on.
//
// Each problem carries what its check compared (validation/explanation.hpp), worked out as
// it is noted from the record's text and the control's values at that moment, by the
// explainer the sink was given (the diagnosis gives reports/explain.hpp's Explain).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "control/zav.hpp"
#include "records/layout.hpp"
#include "validation/explanation.hpp"

namespace zav {

struct Problem {
  std::int32_t record = 0;  // 1-based record number; 0: the file as a whole
  int type = -1;            // the record's type as read (0 to 255); -1 when not known
  std::string field;        // the field's name (Windows-1252); empty: the whole record/file
  int start = 0;            // the field's position, 1-based (0 when there is no field)
  int length = 0;
  std::int16_t message = 0;  // message number; 0 for a run-time failure
  std::string text;          // the message's text (Windows-1252), or the failure's
  std::int32_t failure = 0;  // run-time failure number, 0 for a message
  Explanation explained;     // what the check found and expected

  bool operator==(const Problem&) const = default;
};

class ProblemSink {
 public:
  // What a failed check of `field` in a record of `type` whose text is `record` compared,
  // from what `z` holds at the moment it failed.
  using Explainer = Explanation (*)(ZAV& z, int type, std::string_view record, const Field& field,
                                    std::int16_t message);

  // Keeps the first `keep` problems and only counts the others (more()); each problem of a
  // field is explained by `explain` (none without one).
  explicit ProblemSink(std::size_t keep = SIZE_MAX, Explainer explain = nullptr)
      : keep_(keep), explain_(explain) {}

  // The record the checks are about to examine, and its text (kept as a view: it must
  // outlive the record's checks).
  void Begin(std::int32_t record, int type, std::string_view text = {}) {
    Cut();
    record_ = record;
    type_ = type;
    text_ = text;
    first_of_record_ = problems_.size();
  }

  // A failed check of `field` in the current record, explained from what `z` holds now.
  void Note(ZAV& z, const Field& field, std::int16_t message);
  // A failed check of the current record as a whole.
  void NoteRecord(std::int16_t message);
  // A run-time failure while the current record was examined.
  void NoteFailure(std::int32_t number, const std::string& description);
  // A failed check of a field of another record (the file-level checks read the first and
  // the last record).
  void NoteAt(std::int32_t record, int type, const Field& field, std::int16_t message,
              Explanation explained = {});
  // A failed check of the file as a whole (its name, its set of record types).
  void NoteFile(std::int16_t message, Explanation explained = {});

  // The record walk starts: what was noted before it stays few, and is always looked at.
  void BeginWalk() { walk_from_ = problems_.size(); }

  // Whether anything was noted for the current record.
  bool RecordNoted() const { return problems_.size() > first_of_record_; }

  std::vector<Problem>& problems() {
    Cut();
    return problems_;
  }
  // How many problems were found beyond the first `keep`.
  std::size_t more() const { return more_; }

 private:
  // Whether p's field already has a problem in its record, or, for a problem without a
  // field, whether the same problem was noted already. Looks at what was noted before the
  // walk and from `scan_from` on.
  bool Known(const Problem& p, std::size_t scan_from) const;
  void Add(Problem p, std::size_t scan_from) {
    if (!Known(p, scan_from)) problems_.push_back(std::move(p));
  }

  // Drops what lies beyond the first keep_ problems, between records (a record's own
  // problems are needed whole while it is checked, to note each field once).
  void Cut() {
    if (problems_.size() <= keep_) return;
    more_ += problems_.size() - keep_;
    problems_.resize(keep_);
  }

  std::size_t keep_;
  Explainer explain_;
  std::size_t more_ = 0;
  std::vector<Problem> problems_;
  std::int32_t record_ = 0;
  int type_ = -1;
  std::string_view text_;
  std::size_t first_of_record_ = 0;
  std::size_t walk_from_ = SIZE_MAX;
};

// True: stop at this failure (a normal run). False: the failure was noted, go on.
inline bool Fail(ZAV& z, const Field& field, std::int16_t message) {
  ProblemSink* const sink = z.working().problems;
  if (sink == nullptr) return true;
  sink->Note(z, field, message);
  return false;
}

// A failure after which nothing more of the record is examined, in any run.
inline std::int16_t StopRecord(ZAV& z, const Field& field, std::int16_t message) {
  if (ProblemSink* const sink = z.working().problems) sink->Note(z, field, message);
  return message;
}

}  // namespace zav
