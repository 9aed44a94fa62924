#ifndef KORVELLO_FUZZINPUT_H
#define KORVELLO_FUZZINPUT_H

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

// What the fuzz targets share: each gets an input as bytes and checks one
// reader of what a medium holds against a reading of its own that is as
// plain as the rule it states. The same targets run as libFuzzer programs
// (KORVELLO_FUZZ) and, in the suite, over every input their corpus keeps.
namespace FuzzInput {

// The input as the one file of a medium in a scratch folder, written anew
// for each input; that folder is the medium the readers check paths against.
QString asMediumFile(const uint8_t *data, size_t size);

// Ends the run with the target's finding, so that libFuzzer keeps the
// input and the suite's replay fails.
void expect(bool holds, const char *rule, const QString &got = QString(),
            const QString &wanted = QString());

} // namespace FuzzInput

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

#endif
