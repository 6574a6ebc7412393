// The problem sink: what a diagnosis notes of each failed check.
#include "validation/problems.hpp"

#include <algorithm>
#include <string>
#include <utility>

#include "control/messages.hpp"
#include "records/record_04.hpp"

namespace zav {

namespace {

// A field of a movement entry is named with its entry: "movimiento 3: tipo de ...".
std::string FieldName(int type, const Field& f) {
  constexpr int kFirst = record04::kMovimiento1.start;
  constexpr int kEnd = kFirst + kMovementEntryCount * kMovementEntryLength;
  if (type == 4 && f.start >= kFirst && f.start < kEnd && f.length < kMovementEntryLength) {
    return "movimiento " + std::to_string((f.start - kFirst) / kMovementEntryLength + 1) + ": " +
           f.name;
  }
  return f.name;
}

Problem MessageProblem(std::int32_t record, int type, std::int16_t message) {
  Problem p;
  p.record = record;
  p.type = type;
  p.message = message;
  p.text = std::string(CatalogText(message));
  return p;
}

}  // namespace

bool ProblemSink::Known(const Problem& p, std::size_t scan_from) const {
  // One problem a field: the first noted for it in its record wins. A run-time failure met
  // twice (the header's period, read by the run and by the header check) counts once.
  const auto same = [&p](const Problem& q) {
    if (q.record != p.record) return false;
    return p.start != 0 ? q.start == p.start && q.length == p.length : q == p;
  };
  const std::size_t early = std::min(walk_from_, problems_.size());
  for (std::size_t k = 0; k < early; ++k) {
    if (same(problems_[k])) return true;
  }
  for (std::size_t k = std::max(scan_from, early); k < problems_.size(); ++k) {
    if (same(problems_[k])) return true;
  }
  return false;
}

void ProblemSink::Note(ZAV& z, const Field& field, std::int16_t message) {
  Problem p = MessageProblem(record_, type_, message);
  p.field = FieldName(type_, field);
  p.start = field.start;
  p.length = field.length;
  if (Known(p, first_of_record_)) return;
  if (explain_ != nullptr) p.explained = explain_(z, type_, text_, field, message);
  problems_.push_back(std::move(p));
}

void ProblemSink::NoteRecord(std::int16_t message) {
  Add(MessageProblem(record_, type_, message), first_of_record_);
}

void ProblemSink::NoteFailure(std::int32_t number, const std::string& description) {
  Problem p;
  p.record = record_;
  p.type = type_;
  p.failure = number;
  p.text = description;
  Add(std::move(p), first_of_record_);
}

void ProblemSink::NoteAt(std::int32_t record, int type, const Field& field, std::int16_t message,
                         Explanation explained) {
  Problem p = MessageProblem(record, type, message);
  p.field = FieldName(type, field);
  p.start = field.start;
  p.length = field.length;
  p.explained = std::move(explained);
  Add(std::move(p), 0);
}

void ProblemSink::NoteFile(std::int16_t message, Explanation explained) {
  Problem p = MessageProblem(0, -1, message);
  p.explained = std::move(explained);
  Add(std::move(p), 0);
}

}  // namespace zav
