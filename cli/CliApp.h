#pragma once

#include <iosfwd>
#include <string>
#include <vector>

// irbench-cli: the headless front for scripted production use.
namespace irbench_cli {

enum ExitCode { ExitOk = 0, ExitDevice = 1, ExitUsage = 2, ExitNoConnection = 3, ExitQualityFail = 4 };

// Runs one command line (args without the program name). Results go to `out`,
// messages and traces to `err`. Returns the process exit status.
int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// "123" or "0x7b"; false on anything else (sign, junk, overflow of 32 bits).
bool parseNumber(const std::string& text, unsigned long long max, unsigned long long* value);

std::string usage();

} // namespace irbench_cli
