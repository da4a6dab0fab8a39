// Reads one value of a profile (INI) file the way the product's own files are written.
//
// Rules, settled once here for every caller:
// - "[name]" opens a section; the name is the text between "[" and the last "]", trimmed. A line
//   that starts with "[" but holds no "]" is an ordinary line of the current section.
// - "key=value": key and value are trimmed of blanks and tabs; one pair of matching quotes
//   (single or double) around the value is removed.
// - Section and key names match without regard to letter case; blanks around the names asked
//   for are ignored, as they are around the names in the file.
// - When a section or a key occurs twice, the first occurrence wins; keys of a repeated
//   section are not seen (the first section of that name is the only one searched).
// - A line whose first non-blank character is ";" is a comment. A line without "=" inside a
//   section is a key with an empty value.
// - CR LF, LF and a lone CR each end a line, so no value ever holds a CR.
// - A file that starts with a UTF-16 byte-order mark (FF FE or FE FF) is UTF-16 in that byte
//   order, as Windows editors save "Unicode" text. Otherwise a UTF-8 byte-order mark at the
//   start is skipped, and each value is read as UTF-8 when its bytes are valid UTF-8, else as
//   Windows-1252.
// - At most 199 characters come back; a character is never split.
// - A missing or unreadable file, section or key gives the default, and so does anything that
//   is not a regular file (a folder, a pipe). The file is only read.
#pragma once

#include <QString>

namespace tarnwick {

inline constexpr int kIniValueMaxChars = 199;

QString ReadIniValue(const QString& file, const QString& section, const QString& key, const QString& defaultValue);

}  // namespace tarnwick
