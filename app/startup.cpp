#include "startup.h"

#include "filenames.h"
#include "mainwindow.h"
#include "utils.h"

#include <QApplication>
#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QDebug>

namespace {

bool toInteger(const QString &text, int *value)
{
    bool ok = false;
    *value = text.toInt(&ok, 10);
    return ok;
}

} // namespace

void Startup::addOptions(QCommandLineParser &parser)
{
    parser.setApplicationDescription(
        QStringLiteral("Korvello with two optional integer arguments"));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption(QCommandLineOption(
        QStringList() << QStringLiteral("d") << QStringLiteral("device"),
        QStringLiteral("The device type (default: 0)"), QStringLiteral("integer"),
        QStringLiteral("0")));
    parser.addOption(QCommandLineOption(
        QStringList() << QStringLiteral("c") << QStringLiteral("control"),
        QStringLiteral("The Control state (default: 0)"), QStringLiteral("integer"),
        QStringLiteral("0")));
}

int Startup::run(int &argc, char **argv, const std::function<void(QMainWindow &)> &shown)
{
    FileNames::install();
    QApplication app(argc, argv);

    QCommandLineParser parser;
    addOptions(parser);
    parser.process(app);

    int device = 0;
    if (!toInteger(parser.value(QStringLiteral("d")), &device)) {
        qDebug() << "Error: The first argument is not a valid integer";
        return 1;
    }
    int control = 0;
    if (!toInteger(parser.value(QStringLiteral("c")), &control)) {
        qDebug() << "Error: The second argument is not a valid integer";
        return 1;
    }
    qDebug() << "=== argv:" << device << "and" << control;

    // The window reads the control state while it is being built.
    Utils::setSDevType(device);
    Utils::setSDevControlType(control);

    MainWindow window;
    window.show();
    if (shown)
        shown(window);
    return app.exec();
}
