#ifndef KORVELLO_FILENAMES_H
#define KORVELLO_FILENAMES_H

#include <QString>

// File names are bytes. A medium written elsewhere can hold names that are
// not valid UTF-8, and the scripts take them byte for byte; Qt's own UTF-8
// codec would turn each stray byte into U+FFFD, so the tool could list such
// a name but never open it again. Installed as the locale's codec, this
// reads valid UTF-8 as UTF-8 and each byte that is not part of it as the
// lone surrogate U+DC80 + (byte - 0x80), and writes such a surrogate back
// as that byte: every name goes from bytes to text and back unchanged.
namespace FileNames {

// Before anything decodes a name or an argument.
void install();

// Whether the text holds a byte that was not valid UTF-8.
bool hasStrayBytes(const QString &text);

} // namespace FileNames

#endif
