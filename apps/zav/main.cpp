// zav: the command line of the payment-file control.
#include <CLI/CLI.hpp>
#include <iostream>

#include "command_line.hpp"
#include "control/messages.hpp"
#include "deadline.hpp"
#include "diff.hpp"
#include "fix.hpp"
#include "host/json_host.hpp"
#include "host/typelib.hpp"
#include "inspect.hpp"
#include "problems.hpp"
#include "receipt.hpp"
#include "run.hpp"
#include "sample.hpp"
#include "serve.hpp"
#include "version.hpp"
#include "zav/zav.hpp"

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
  zavcli::AddRunOptions(validate, validate_req, true);
  auto* check =
      app.add_subcommand("check",
                         "The verdict of a payment file as it stands: validated like 'validate', "
                         "but neither renamed nor packed");
  zavcli::AddRunOptions(check, check_req, false);
  check->add_flag("--all", check_req.all,
                  "Also list every problem of the file: each failing field of each record and "
                  "each file-level problem (the verdict stays the first)");

  zavcli::DescribeRequest describe_req;
  auto* describe = zavcli::AddDescribeCommand(app, describe_req);
  zavcli::SplitRequest split_req;
  auto* split = zavcli::AddSplitCommand(app, split_req);

  zavcli::DeadlineRequest deadline_req;
  auto* deadline = zavcli::AddDeadlineCommand(app, deadline_req);
  zavcli::FixRequest fix_req;
  auto* fix = zavcli::AddFixCommand(app, fix_req);
  zavcli::DiffRequest diff_req;
  auto* diff = zavcli::AddDiffCommand(app, diff_req);

  zavcli::ServeRequest serve_req;
  auto* serve = zavcli::AddServeCommand(app, serve_req);

  zavcli::ReceiptRequest receipt_req;
  auto* receipt_verify = zavcli::AddReceiptCommand(app, receipt_req);

  zavcli::SampleRequest sample_req;
  auto* sample = app.add_subcommand(
      "sample", "Write a valid payment file (or a set of diskette parts) for tests");
  zavcli::AddSampleOptions(sample, sample_req);

  int message_number = 0;
  bool message_list = false;
  auto* message = app.add_subcommand("message", "Print the text of a message number");
  auto* number_option = message->add_option("N", message_number, "Message number");
  message->add_flag("--list", message_list, "Every message: its number, a tab, its text")
      ->excludes(number_option);
  message->require_option(1);

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
      return r.pack ? zavcli::RunValidate(r) : zavcli::RunCheck(r);
    }
    if (sample->parsed()) return zavcli::RunSample(sample_req);
    if (receipt_verify->parsed()) return zavcli::RunReceiptVerify(receipt_req);
    if (serve->parsed()) return zavcli::ExecServe(argc, argv);
    if (describe->parsed()) return zavcli::RunDescribe(describe_req);
    if (split->parsed()) return zavcli::RunSplit(split_req);
    if (deadline->parsed()) return zavcli::RunDeadline(deadline_req);
    if (fix->parsed()) return zavcli::RunFix(fix_req);
    if (diff->parsed()) return zavcli::RunDiff(diff_req);
    if (message->parsed() && message_list) {
      for (const std::int16_t number : zav::CatalogNumbers()) {
        std::cout << number << "\t" << zavcli::OneLine(zav::CatalogText(number)) << "\n";
      }
      return 0;
    }
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
