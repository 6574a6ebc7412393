// The diagnosis walk. The walk mirrors RunValidation step for step;
// where the run stops with a message, the walk notes it and goes on.
#include "reports/diagnosis.hpp"

#include <algorithm>
#include <array>
#include <optional>
#include <string_view>

#include "basic/conversions.hpp"
#include "basic/numeric_text.hpp"
#include "basic/runtime_failure.hpp"
#include "platform/record_file.hpp"
#include "records/checksum.hpp"
#include "records/layout.hpp"
#include "records/personal.hpp"
#include "records/record_02.hpp"
#include "records/record_06.hpp"
#include "reports/describe.hpp"
#include "reports/explain.hpp"
#include "validation/file_checks.hpp"

namespace zav {

namespace {

// The type field every record starts with.
constexpr Field kTipoRegistro = record02::kTipo;

// The type a record declares, as the run reads it; -1 when it is not a byte.
int TypeOf(std::string_view record) {
  const double t = LeadingValue(Cut(record, 1, 2));
  return t >= 0 && t < 255.5 ? static_cast<int>(ToByte(t)) : -1;
}

}  // namespace

std::vector<Problem> DiagnoseFile(const ZAV& control, const std::string& sDateServ,
                                  const std::string& in_place) {
  return DiagnoseFileUpTo(control, sDateServ, in_place, SIZE_MAX).problems;
}

Findings DiagnoseFileUpTo(const ZAV& control, const std::string& sDateServ,
                          const std::string& in_place, std::size_t keep) {
  ZAV z = control;
  ProblemSink sink(keep, Explain);
  const auto done = [&sink] { return Findings{std::move(sink.problems()), sink.more()}; };
  z.working().problems = &sink;
  // As in the run, any other failure counts as a run-time failure too.
  const auto noted = [&sink](const std::exception& e) {
    const auto* f = dynamic_cast<const RuntimeFailure*>(&e);
    sink.NoteFailure(f != nullptr ? f->number() : err::kInvalidCall, e.what());
  };
  // A step that may fail at run time: noted, and the walk goes on.
  const auto guarded = [&noted](auto&& step) {
    try {
      step();
    } catch (const std::exception& f) {
      noted(f);
    }
  };

  std::optional<RecordFile> file;
  std::int32_t n = 0;
  std::string record, first, last;
  try {
    ResetTotals(z);
    const std::string work = FileToRead(z, in_place);
    if (!FileToReadExists(z, work, in_place)) {
      sink.NoteFile(2);
      return done();
    }
    z.posicion = 1;
    guarded([&] {
      if (const auto m = ExtensionCheck(z)) sink.NoteFile(m, ExplainFileCheck(z, m, {}, {}));
    });
    file.emplace(std::string_view(work), RecordFile::Mode::kRead);
    n = file->RecordCount();
    z.iTamArch = ToLong(static_cast<double>(file->Length()));
    file->Read(1, record);
  } catch (const std::exception& f) {
    noted(f);  // no file to walk
    return done();
  }

  // The header and the period, from record 1.
  first = record;
  const int first_type = TypeOf(record);
  sink.Begin(1, first_type);
  CopyHeader(z, record);
  guarded([&] {
    try {
      DerivePeriod(z);
    } catch (const RuntimeFailure&) {
      // A period that is not a number: the records are checked against the month as its
      // leading value reads, rather than against whatever the copy held.
      z.working().bgPeriodoPar = z.working().igNumPeriodo % 2 == 0;
      throw;
    }
  });
  sink.Begin(0, -1);
  guarded([&] {
    if (const auto m = WorkNameCheck(z, first)) sink.NoteFile(m, ExplainFileCheck(z, m, first, {}));
  });

  // The deadline, the version and the lateness, from the last record.
  int last_type = -1;
  try {
    file->Read(n, last);  // an empty file has no record 0
    last_type = TypeOf(last);
  } catch (const std::exception& f) {
    noted(f);
    return done();
  }
  sink.Begin(n, last_type);
  ReadLastRecord(z, last);
  const auto file_check = [&](std::int16_t m) { return ExplainFileCheck(z, m, first, last); };
  const std::int16_t deadline = DeadlineCheck(last);
  if (deadline != 0) {
    sink.NoteAt(n, last_type, record06::kFechaLimite, deadline, file_check(deadline));
  }
  guarded([&] {
    if (const auto m = VersionCheck(z)) {
      sink.NoteAt(n, last_type, record06::kVersion, m, file_check(m));
    }
  });
  if (deadline == 0) {
    guarded([&] {
      std::string business_day;
      if (const auto m = LatenessCheck(z, last, sDateServ, &business_day)) {
        sink.NoteAt(n, last_type, record06::kFechaLimite, m,
                    ExplainLateness(last, business_day, sDateServ, z.working().lgDiasAtraso));
        z.working().lgDiasAtraso = 0;
      }
    });
  }

  // Every record, each with every failing field.
  RunningCheck check;
  std::array<bool, 7> seen{};
  sink.BeginWalk();
  for (z.posicion = 1; z.posicion <= n; ++z.posicion) {
    sink.Begin(z.posicion, -1);
    try {
      file->Read(z.posicion, record);
    } catch (const std::exception& f) {
      noted(f);  // the rest of the file cannot be read
      break;
    }
    check.Fold(record);
    ReportProgress(z, z.posicion, n);
    guarded([&] {
      const std::uint8_t t = ToByte(LeadingValue(Cut(record, 1, 2)));
      sink.Begin(z.posicion, t, record);
      if (t >= 2 && t <= 6) seen[t] = true;
      if (t == 3) {
        if (z.iCantidadregistros3 == INT32_MAX) throw RuntimeFailure(err::kOverflow);
        ++z.iCantidadregistros3;
      }
      const std::int16_t r = z.ChecaRegistro(t, z.posicion, record);
      // A type without checks is refused before any field is read.
      if (r != 0 && !sink.RecordNoted()) sink.Note(z, kTipoRegistro, r);
    });
  }

  // The file as a whole.
  if (!check.Matches(z.sCheckSum)) {
    sink.NoteAt(n, last_type, record06::kCheckSum, 144,
                ExplainCheckValue(z.sCheckSum, check.value()));
  }
  if (const auto m = WorkerCountCheck(z)) {
    sink.NoteAt(1, first_type, record02::kTotalTrabajadores, m, file_check(m));
  }
  if (const auto m = DaysTotalCheck(z)) {
    sink.NoteAt(1, first_type, record02::kTotalDias, m, file_check(m));
  }
  if (RecordTypesCheck(seen) != 0) {
    if (!seen[2]) sink.NoteFile(80);
    if (!seen[3] && !seen[4]) {
      sink.NoteFile(85);
    } else {
      if (!seen[3]) sink.NoteFile(81);
      if (!seen[4]) sink.NoteFile(82);
    }
    if (!seen[5]) sink.NoteFile(83);
    if (!seen[6]) sink.NoteFile(84);
  }
  return done();
}

void MaskPersonal(std::vector<Problem>& problems) {
  for (Problem& p : problems) {
    const auto keep = PersonalKeep(p.type, p.start, p.length);
    if (!keep) continue;
    Explanation& e = p.explained;
    e.found = Masked(e.found, *keep);
    if (e.kind != Explanation::Kind::kFormat) e.expected = Masked(e.expected, *keep);
    e.difference = Masked(e.difference, 0);
  }
}

}  // namespace zav
