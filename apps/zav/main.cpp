// zav: the command line of the payment-file control.
#include <CLI/CLI.hpp>
#include <iostream>

#include "command_line.hpp"
#include "host/json_host.hpp"
#include "host/typelib.hpp"
#include "inspect.hpp"
#include "run.hpp"
#include "sample.hpp"
#include "serve.hpp"
#include "version.hpp"
#include "zav/zav.hpp"

namespace {

void AddRunOptions(CLI::App* cmd, zavcli::RunRequest& r) {
  cmd->add_option("FILE", r.file, "Payment file (.ZAV), or the first diskette part (.ZA0)")
      ->required();
  cmd->add_option("--server-date", r.server_date,
                  "The server's date, DD/MM/YYYY, against which lateness is judged (default: "
                  "today)");
  cmd->add_option("--tolerance", r.tolerance, "Amount tolerance igToler, 0 to 255")
      ->check(CLI::Range(0, 255));
  cmd->add_flag("--management", r.management,
                "Management mode: older program versions accepted, lateness not checked");
  cmd->add_option("--work-dir", r.work_dir, "Work folder, instead of the one inicio chooses");
  cmd->add_option("--work-name", r.work_name,
                  "Work file name (default: FILE's name); it must match the header");
  cmd->add_option("--disks", r.disks, "Diskettes the file came on (NumDiscos), default 1")
      ->check(CLI::Range(0, 32767));
  cmd->add_flag("--json", r.json, "Print one JSON object instead of text");
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "zav: validator of employers' social-security payment files.\n"
      "Checks every record and total of a payment file, its check value and its payment\n"
      "deadline, packs it for upload and gives the payment capture line.\n"
      "Drives: ZAV_DRIVES='C=fixed:/srv/zav/c;A=removable:/media/floppy' maps the control's\n"
      "drive letters; by default C is ~/.local/share/zav/drive_c.\n"
      "Exit status: 0 accepted, 1 rejected with a message, 2 run-time failure, 64 usage.",
      "zav"};
  app.require_subcommand(1);
  app.set_version_flag("--version", zavcli::VersionLine("zav"),
                       "Print the version and the commit it was built from");

  zavcli::RunRequest validate_req, check_req;
  auto* validate = app.add_subcommand(
      "validate",
      "Validate a payment file as the page does: bring it into the work folder, validate, "
      "rename and pack it into its upload archive, print the capture line");
  AddRunOptions(validate, validate_req);
  auto* check =
      app.add_subcommand("check",
                         "The verdict of a payment file as it stands: validated like 'validate', "
                         "but neither renamed nor packed");
  AddRunOptions(check, check_req);
  check->add_flag("--all", check_req.all,
                  "Also list every problem of the file: each failing field of each record and "
                  "each file-level problem (the verdict stays the first)");

  zavcli::DescribeRequest describe_req;
  auto* describe = zavcli::AddDescribeCommand(app, describe_req);
  zavcli::SplitRequest split_req;
  auto* split = zavcli::AddSplitCommand(app, split_req);

  zavcli::ServeRequest serve_req;
  auto* serve = zavcli::AddServeCommand(app, serve_req);

  zavcli::SampleRequest sample_req;
  auto* sample = app.add_subcommand(
      "sample", "Write a valid payment file (or a set of diskette parts) for tests");
  zavcli::AddSampleOptions(sample, sample_req);

  int message_number = 0;
  auto* message = app.add_subcommand("message", "Print the text of a message number");
  message->add_option("N", message_number, "Message number")->required();

  auto* host = app.add_subcommand(
      "host",
      "Script the control with JSON lines on stdin/stdout: one request per line, "
      "{\"call\": NAME, \"args\": [...]}, {\"get\": NAME} or {\"put\": NAME, \"value\": V}");

  auto* typelib =
      app.add_subcommand("typelib",
                         "Print the control's type description (every member, its kind, parameters "
                         "and types) as JSON");

  if (const auto status = zavcli::ParseCommandLine(app, argc, argv)) return *status;

  try {
    if (validate->parsed() || check->parsed()) {
      zavcli::RunRequest& r = validate->parsed() ? validate_req : check_req;
      r.pack = validate->parsed();
      return zavcli::RunValidate(r);
    }
    if (sample->parsed()) return zavcli::RunSample(sample_req);
    if (serve->parsed()) return zavcli::ExecServe(argc, argv);
    if (describe->parsed()) return zavcli::RunDescribe(describe_req);
    if (split->parsed()) return zavcli::RunSplit(split_req);
    if (message->parsed()) {
      std::string text = zav::MessageText(message_number);
      if (text.empty()) {
        std::cerr << "zav: " << message_number << " is not a message number\n";
        return 1;
      }
      for (char& c : text)
        if (c == '\r') c = '\n';
      std::cout << text << "\n";
      return 0;
    }
    if (typelib->parsed()) {
      std::cout << zav::TypeLibraryJson() << "\n";
      return 0;
    }
    if (host->parsed()) {
      zav::JsonHost json_host;
      return json_host.Run(std::cin, std::cout);
    }
  } catch (const std::exception& e) {
    std::cerr << "zav: " << e.what() << "\n";
    return 2;
  }
  return 0;
}
