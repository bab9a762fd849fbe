#pragma once

#include "DataExchange.h"

// What every irbench-cli command is made of; each command file adds its commands to
// the table with an add...Commands function.

#include "CliApp.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <iosfwd>
#include <map>
#include <string>
#include <cstdint>
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
    DataExchange::Pacing pacing = DataExchange::Pacing::Fixed;
    bool trace = false;
    std::string db;       // --db sqlite:PATH | postgresql://USER@HOST:PORT/DB
    std::string command;
    std::vector<std::string> args;
};

struct Context {
    Options opt;
    std::ostream& out;
    std::ostream& err;
    // The exit status when a command's prepare gives false: a usage error or an
    // unusable input keep 2; an output that cannot be written sets 1.
    int refusal = ExitUsage;
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
void addSensorConfigCommands(CommandTable& table);
void addNoShutterCommands(CommandTable& table);
void addHistoryCommands(CommandTable& table);
void addQualityCommands(CommandTable& table);

// The history recorder for this run: --db, else the settings file; false on a bad --db.
bool configureHistory(Context& c);
void setHistoryLink(const Options& o);
// Waits for the run's events to reach the local file (and briefly the server).
void finishHistory(Context& c);
void addSheetCommands(CommandTable& table);
void addDriftCommands(CommandTable& table);

// Shared helpers for command files.
std::string hex32(unsigned long long v, bool pad);
bool usageError(Context& c, const std::string& why); // prints the usage, returns false
bool number(Context& c, size_t argIndex, unsigned long long max, unsigned long long* v, const char* what);

// Files, checked in prepare, before anything is connected or created. Each prints why
// it refuses and returns false.
// Why `path` cannot be read as an input (missing, a folder, a device, unreadable);
// empty when it can, `size` then gets its length.
std::string unusableInput(const QString& path, qint64* size);
// "无法读取<what> PATH: reason"; exit status 2.
bool inputFile(Context& c, const QString& path, const char* what, qint64* size);
// An output that exists but is no regular file (a folder, a device) is never replaced
// by a file: "无法写入<what> PATH: ..."; exit status 1.
bool outputFile(Context& c, const QString& path, const char* what);
// An output folder that exists as something else; exit status 1.
bool outputFolder(Context& c, const QString& path);
// A whole file of exactly `expected` bytes (expected < 0: any size up to -expected);
// why not is printed.
bool readFile(Context& c, const QString& path, qint64 expected, QByteArray* data, const char* what);
// Written whole or not at all, its folder made first; why not is printed.
bool saveFile(Context& c, const QString& path, const std::vector<uint8_t>& bytes, const char* what);
// A bad-pixel table of whole records inside W x H (the reset entry passes); exit 2 otherwise.
bool readPixelTable(Context& c, const QString& path, int w, int h, QByteArray* table, const char* what);

} // namespace irbench_cli
