#pragma once

#include <QString>

// Small, total path and text routines. Comparisons are exact (no case folding).
namespace text {

// The part after the last separator. The backslash is the separator; only a path
// without any backslash and with a slash is cut at its last slash.
QString GetFileName(const QString &path);

// The path with a trailing separator (backslash if it holds one, else slash if it
// holds one, else unchanged). A closing double quote stays last.
QString AddSeparator(const QString &path);

// The text trimmed of blanks (U+0020 only), in double quotes when it holds a space
// and no double quote. A text of blanks only comes back unchanged.
QString QuoteIfSpaces(const QString &text);

// Replaces characters that may not stand in a file name: ':' '\' '/' by '_', '"'
// by '\'', and removes CR and LF. Nothing else changes; no trimming.
QString CleanName(const QString &text);

} // namespace text
