#include "CliApp.h"

#include <QCoreApplication>

#include <csignal>
#include <iostream>

int main(int argc, char** argv)
{
    std::signal(SIGPIPE, SIG_IGN);
    // Past a file-size limit a write fails (and is reported) instead of killing us
    // with a half-written temporary left behind.
    std::signal(SIGXFSZ, SIG_IGN);
    QCoreApplication app(argc, argv);
    std::vector<std::string> args(argv + 1, argv + argc);
    return irbench_cli::run(args, std::cout, std::cerr);
}
