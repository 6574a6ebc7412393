#include <iostream>
#include <zav/zav.hpp>

int main(int argc, char** argv) {
  if (argc < 2) return 64;
  zav::ValidateOptions options;
  if (argc > 2) options.server_date = argv[2];  // DD/MM/YYYY; today without it
  const zav::Verdict verdict = zav::Validate(argv[1], options);
  std::cout << (verdict.accepted ? verdict.capture_line : verdict.result) << "\n";
  return verdict.accepted ? 0 : 1;
}
