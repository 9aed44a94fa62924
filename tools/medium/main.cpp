#include "commandline.h"
#include "filenames.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QTextStream>

#include <cstdio>

int main(int argc, char *argv[])
{
    FileNames::install();
    QCoreApplication app(argc, argv);
    // The device code's debug lines are for the device's log, not this report.
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    QTextStream out(stdout);
    QTextStream err(stderr);
    out.setCodec("UTF-8");
    err.setCodec("UTF-8");
    return MediumCommand::run(app.arguments().mid(1), out, err);
}
