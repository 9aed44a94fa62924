// The suite's run of a fuzz target: every input its corpus keeps (each one
// that ever failed among them), once. A finding aborts, which fails the test.

#include "fuzzinput.h"

#include <QDirIterator>
#include <QFile>

#include <cstdio>

int main(int argc, char **argv)
{
    int inputs = 0;
    for (int i = 1; i < argc; ++i) {
        QDirIterator it(QString::fromLocal8Bit(argv[i]), QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            QFile file(it.next());
            if (!file.open(QIODevice::ReadOnly)) {
                std::fprintf(stderr, "replay: cannot read %s\n", qPrintable(file.fileName()));
                return 1;
            }
            const QByteArray input = file.readAll();
            LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(input.constData()),
                                   size_t(input.size()));
            ++inputs;
        }
    }
    std::printf("replay: %d inputs, no finding\n", inputs);
    return inputs > 0 ? 0 : 1;
}
