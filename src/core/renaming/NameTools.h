#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

// The rules of the name boxes and of the bulk tools that rewrite all names of a
// page at once. Pure functions of plain values; the window only reads its boxes,
// calls these and writes the boxes back.
//
// Reading numbers: a number is what a user types as a plain decimal number,
// independent of the system's locale, so a German and an English system read the
// same text alike: optional blanks, an optional sign ('+' or '-'), ASCII digits and
// at most one decimal separator, which may be '.' or ',' (both locales' usual
// one), then optional blanks. Thousands separators, exponents, hexadecimal and any
// other notation are not numbers. Whole-number conversion rounds halves to the
// even neighbour (2.5 gives 2, 3.5 gives 4) and fails outside -32768..32767, as the
// program has always done.
namespace names {

// A text selection in a box: start position and number of characters.
struct Selection {
    int start = 0;
    int length = 0;
    bool operator==(const Selection &o) const { return start == o.start && length == o.length; }
};

// The text read as a decimal number, or nothing when it is not one.
std::optional<double> readDecimal(const QString &text);

// Rounds to the nearest whole number, halves to the even neighbour; nothing when
// the result lies outside -32768..32767 (or the value is not finite).
std::optional<int> roundToInt16(double value);

// The text converted to a whole signed 16-bit number (rounded as above), or
// nothing when it is no number or out of range.
std::optional<int> readInt16(const QString &text);

// The start number of the numbering tool: the text as a whole 16-bit number, 1
// when it cannot be read.
int startNumberOf(const QString &text);

// The number in decimal, with "0" put in front until it has width characters
// (in front of a minus sign too: -5 at width 3 is "0-5"). Never cut.
QString padNumber(qint64 number, int width);

// What the start-number box holds after it loses the focus: its start number,
// padded with zeros to the length the text had. "007" stays, "-05" becomes "0-5",
// "99999" becomes "00001", "abc" becomes "001", "" becomes "1".
QString normaliseStartNumber(const QString &text);

// The start number after moving one page forward or back, where a page holds
// lastSlot + 1 slots. Forward: the text read as a decimal number plus lastSlot + 1,
// rounded to a 16-bit whole number. Back: the text converted to a 16-bit whole
// number, minus lastSlot + 1, in 16-bit arithmetic. Either way the result is padded
// with "0" to the text's former length. When the text is no number or the result
// leaves the 16-bit range, the step fails and text is the old text unchanged.
struct StartNumberStep {
    bool ok = false;
    QString text;
};
StartNumberStep nextPageStartNumber(const QString &text, int lastSlot);
StartNumberStep previousPageStartNumber(const QString &text, int lastSlot);

// The prefix put directly in front of every name whose slot holds a picture
// (filled[i]); other names are left as they are. Slots beyond filled count as
// empty.
QStringList prefixNames(const QStringList &names, const QList<bool> &filled, const QString &prefix);

// The suffix appended directly to every name whose slot holds a picture.
QStringList suffixNames(const QStringList &names, const QList<bool> &filled, const QString &suffix);

// Appends running numbers to every name, filled slot or not: name i gets
// start + i, where start and the width come from startText as in
// normaliseStartNumber. Numbers continue beyond the 16-bit range.
QStringList numberNames(const QStringList &names, const QString &startText);

// Every occurrence of search in text replaced by replacement, letter case ignored.
// Case is folded one UTF-16 unit at a time, so positions in the folded copy are
// positions in the text ("ß" stays one unit, "ä" finds "Ä"). Scans left to right
// without overlaps; text inserted by a replacement is never searched again. An
// empty search returns the text unchanged.
QString ReplaceNoCase(const QString &text, const QString &search, const QString &replacement);

// The selection a name box takes when it gets the focus: if the date prefix occurs
// in the name (an empty prefix occurs in every non-empty name), everything after
// the prefix's length plus one separator character, counted from the start; the
// caret at the end when the name is not longer than that; otherwise the whole name.
Selection nameSelectionOnFocus(const QString &name, const QString &prefix);

// The selection the prefix box takes when it gets the focus: from the third
// character to the end (1990.01.31 selects 90.01.31).
Selection prefixSelectionOnFocus(const QString &text);

// The "X" button: a box holding any text becomes empty; an empty box gets the
// name the page showed for its picture (empty for a slot without a picture).
QString toggledName(const QString &current, const QString &shownName);

} // namespace names
