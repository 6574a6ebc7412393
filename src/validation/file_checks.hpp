// The steps of a validation run around its record walk: the totals reset, the employer
// header copied into the control, the period values derived from it, and the checks of the
// file as a whole. Each check answers its message number (0: it passes); the validation
// run stops at the first that fails, a diagnosis runs them all.
//
//  - the source name's extension: ZAV, or ZA and a digit (406); a name without three
//    characters of extension is a run-time failure;
//  - the work name: a letter, the period's year and month, three characters of the
//    registration number (234);
//  - from the last record: the deadline (219), the version of the generating program
//    (49), the lateness of the payment against the server's date (253);
//  - after the records: the worker count (405) and the days total (310) the header
//    declares, and the record types the file must hold (80 to 85).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "control/zav.hpp"

namespace zav {

// The file a run reads: the work file DestinoArchi & FinalArchi, or `in_place` when it is
// given (a control path): a file judged where it lies, never copied, moved or written.
std::string FileToRead(const ZAV& z, const std::string& in_place);

// Whether the run has a file at `path` (FileToRead). The work file counts when a listing
// finds it (ExisteArchivo); a file read in place stands for a work copy named FinalArchi,
// which a listing finds when the file is there and that name is not hidden.
bool FileToReadExists(ZAV& z, const std::string& path, const std::string& in_place);

// Every running total and counter back to 0 (sgBim and sgBimAno stay).
void ResetTotals(ZAV& z);

// The header fields of record 1 into their properties, untrimmed.
void CopyHeader(ZAV& z, std::string_view first_record);

// igNumPeriodo and bgPeriodoPar from igPer; for an even month sgBim and sgBimAno too. A
// period year or month that is not a number is a run-time failure.
void DerivePeriod(ZAV& z);

std::int16_t ExtensionCheck(const ZAV& z);

std::int16_t WorkNameCheck(const ZAV& z, std::string_view first_record);

// Takes sVersion and sCheckSum from the last record.
void ReadLastRecord(ZAV& z, std::string_view last);

std::int16_t DeadlineCheck(std::string_view last);

// On sVersion; older versions pass only in management mode.
std::int16_t VersionCheck(const ZAV& z);

// Moves the deadline to a business day and sets lgDiasAtraso (0 in management mode).
// Only for a deadline that passed DeadlineCheck.
std::int16_t LatenessCheck(ZAV& z, std::string_view last, const std::string& server_date);

std::int16_t WorkerCountCheck(const ZAV& z);

std::int16_t DaysTotalCheck(const ZAV& z);

// seen[t]: a record of type t (2 to 6) was met. The message of a missing type, a later
// finding replacing an earlier one (85 when both 03 and 04 are missing).
std::int16_t RecordTypesCheck(const std::array<bool, 7>& seen);

}  // namespace zav
