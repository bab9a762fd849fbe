// Writes the report of the simulated run to the path given (the report's screenshot in
// docs/ is made from it by scripts/screenshot-quality-report.sh). Not a test.
#include "QualitySample.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s REPORT.pdf\n", argv[0]);
        return 2;
    }
    const QualityReportData d = qualitysample::reportOf(qualitysample::simulate());
    QString error;
    if (!writeQualityReport(d, QString::fromLocal8Bit(argv[1]), &error)) {
        std::fprintf(stderr, "%s\n", error.toLocal8Bit().constData());
        return 1;
    }
    return 0;
}
