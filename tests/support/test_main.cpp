// Shared test entry point: a QCoreApplication for signals and paths, every fixed
// pause shrunk a hundredfold, and a throw-away data root.
#include "CComonFun.h"
#include "Pace.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>

int main(int argc, char** argv)
{
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    Pace::setScale(0.01);
    QTemporaryDir root;
    CComonFun::setDataRoot(root.path());
    return RUN_ALL_TESTS();
}
