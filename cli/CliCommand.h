#pragma once

// What every irbench-cli command is made of; each command file adds its commands to
// the table with an add...Commands function.

#include <functional>
#include <iosfwd>
#include <map>
#include <string>
#include <vector>

namespace irbench_cli {

struct Options {
    bool serial = false;
    std::string serialPath;
    int baud = 115200;
    std::string host = "127.0.0.1";
    int port = 8000;
    std::string user = "admin";
    std::string password = "admin";
    int channel = 1;
    double pollMs = 200;
    bool trace = false;
    std::string command;
    std::vector<std::string> args;
};

struct Context {
    Options opt;
    std::ostream& out;
    std::ostream& err;
};

// The work of a command once its arguments are checked (and the link is up).
using Action = std::function<int(Context&)>;

struct Command {
    int argc;             // exact number of arguments; -1: the command checks them
    const char* synopsis; // "read-reg ADDR"
    const char* help;     // one line for the usage text
    bool needsLink;       // false: works on files only, no connection is made
    // Checks the arguments before anything is connected; false: usage error reported.
    std::function<bool(Context&, Action*)> prepare;
};

using CommandTable = std::map<std::string, Command>;

void addRegisterCommands(CommandTable& table);
void addFileCommands(CommandTable& table);
void addTransferCommands(CommandTable& table);
void addStreamCommands(CommandTable& table);
void addCalibrationCommands(CommandTable& table);
void addCaptureCommands(CommandTable& table);

// Shared helpers for command files.
std::string hex32(unsigned long long v, bool pad);
bool usageError(Context& c, const std::string& why); // prints the usage, returns false
bool number(Context& c, size_t argIndex, unsigned long long max, unsigned long long* v, const char* what);

} // namespace irbench_cli
