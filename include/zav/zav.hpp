// zav/zav.hpp: validating payment files from a C++ program.
//
// Link the control's library: with CMake, find_package(ZAVCtlN CONFIG REQUIRED) and
// target_link_libraries(app PRIVATE ZAVCtlN::ZAVCtlN); otherwise pkg-config zavctln.
//
//   zav::ValidateOptions options;
//   options.server_date = "10/05/2004";
//   const zav::Verdict verdict = zav::Validate("P0404268.ZAV", options);
//   if (verdict.accepted) std::cout << verdict.capture_line << "\n";
//
// Validate runs what the page that hosts the control runs: it copies the payment file
// into the control's work folder, validates it against the server's date and, when it
// is accepted, renames the work copy and packs it into the zip archive to upload. The
// file itself is never changed. A file whose extension is ZA0 is the first part of a
// file split over diskettes: the parts ZA1, ZA2, ... beside it are joined first.
//
// The work folder is C:\ZAV\temp\ on the control's drive C, a folder of this machine:
// the environment variable ZAV_DRIVES maps drive letters onto folders
// (ZAV_DRIVES='C=fixed:/srv/zav/c'); without it drive C is ~/.local/share/zav/drive_c.
// ValidateOptions::work_dir names another work folder.
//
// Texts are UTF-8. Call Validate from one thread at a time: the control keeps a little
// state library-wide.
#pragma once

#include <stdexcept>
#include <string>

namespace zav {

struct ValidateOptions {
  // The day the payment is judged against, DD/MM/YYYY; empty: today on this machine.
  std::string server_date;
  // Amount tolerance (0 to 255): how far the file's totals may be from the sums of its
  // records, in pesos (in hundredths of a peso in the worker records' own checks).
  int tolerance = 0;
  // Management mode: older program versions accepted, lateness not checked.
  bool management = false;
  // The work folder (a native path, created when missing); empty: the control's own.
  std::string work_dir;
  // The name of the work copy; empty: the file's own name. It must match the header.
  std::string work_name;
  // The diskettes the file came on, which the file's last record must declare (a file
  // in one piece only; the parts of a .ZA0 set say it themselves).
  int disks = 1;
  // False: the verdict of the file as it stands; nothing is renamed or packed. A file in
  // one piece is then read where it lies, read-only, without a work copy; the join of a
  // diskette set is removed again.
  bool pack = true;
  // Accepted and packed: the folder the archive is moved to (a native path; one of the
  // same name there is replaced). Empty: it stays in the work folder.
  std::string out_dir;
  // Leave this run's work copy (renamed when accepted) in the work folder; by default it
  // is removed once the verdict is known.
  bool keep_work = false;
};

struct Verdict {
  bool accepted = false;
  // The control's own answer: "0" (accepted), "5" (a run-time failure cut the run
  // short) or the text of the first problem met, ending with the file's folio.
  std::string result;
  // The number of that problem's message (0 when accepted or for a "5"); MessageText
  // gives its text.
  int message = 0;
  // Where the control's record loop stood when the run ended (its posicion): 1 for a
  // check made before the loop, one past the last record after it.
  int record = 0;
  // The record the problem is in (1 is the first), or 0 for a problem of the file as a
  // whole (its name, a missing record type) and for an accepted file.
  int at_record = 0;
  // Rejected: one plain Spanish sentence on the likely cause when the file shows one the
  // message does not name (line ends added by an editor, a size that is not a whole
  // number of records, the name the header asks for, ...); empty otherwise.
  std::string hint;
  // Accepted: the payment capture line, and the parameter string a page passes on.
  std::string capture_line;
  std::string param;
  // Accepted and packed: the archive's name and its path on this machine.
  std::string archive_name;
  std::string archive;
  // A "5": the failure's classic error number (6 overflow, 53 file not found, 70
  // permission denied, ...) and its description.
  int failure_number = 0;
  std::string failure_description;
};

// The work folder or the folder for the archive cannot be used (it does not exist, is not
// writable or is full), or no drive holds a work folder: nothing was validated.
class SetupError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Validates the payment file at `file` (a native path). Throws std::invalid_argument,
// doing nothing, when the request cannot run: no such file, a server date that is not a
// real day written DD/MM/YYYY, a tolerance out of range, a work copy that would be the
// file itself, a diskette part missing; and SetupError (above). Any other problem, the
// file's or the control's, is a verdict.
Verdict Validate(const std::string& file, const ValidateOptions& options = {});

// The text of message `number`, as the control words it; empty for a number it lacks.
std::string MessageText(int number);

}  // namespace zav
