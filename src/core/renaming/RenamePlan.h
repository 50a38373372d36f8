#pragma once

#include "core/platform/Rename.h"

#include <QList>
#include <QString>
#include <QStringList>

// Renaming files safely: the duplicate rule of the page, the checks of each new
// name, and a plan that orders the renames so that no file is ever overwritten.
// Nothing here touches the disk except to look (existence and identity).
namespace renaming {

// ---- duplicate check of a page ----

// The names that are listed as duplicates: a name is listed once for each filled
// slot that has a later filled slot of the same (case-sensitive) name, so a name
// shared by k filled slots appears k - 1 times, in slot order.
QStringList duplicateNames(const QStringList &names, const QList<bool> &filled);

// The message that lists them.
QString duplicatesMessage(const QStringList &duplicates);

// ---- one new name ----

// The longest file name, in bytes, that Linux file systems take.
constexpr int MaxFileNameBytes = 255;

enum class Problem {
    None,
    Empty,            // the name is empty
    Separator,        // holds "/" or "\" and would leave the directory
    ControlCharacter, // holds a line break, tab or other control character
    InvalidText,      // holds text that cannot be written as a file name (broken UTF-16)
    DotName,          // "." or ".."
    Hidden,           // starts with "." and would vanish from the list as a hidden file
    TooLong,          // longer than the file system allows
    SourceMissing,    // the file to rename is not there (any more)
    SourceTwice,      // the same file is to be renamed twice
    TargetExists,     // another file, not renamed in this plan, has the new name
    TargetTwice,      // two files are to get the same name
};

// Checks a typed name (without extension) that is to become name + extension.
// Lengths are counted in the bytes the name takes on disk.
Problem checkNewName(const QString &name, const QString &extension = QStringLiteral(".jpg"));

// Checks a whole file name (with extension), as every new name of a plan must
// pass it.
Problem checkFileName(const QString &fileName);

// The file name a typed name becomes, with the extension its file keeps.
QString fileNameFor(const QString &typed, const QString &extension = QStringLiteral(".jpg"));

// Why a problem refuses the renaming, in words for the user.
QString problemText(Problem problem, const QString &newFileName);

// ---- the plan ----

// Rename the file at from (a full path) to to (a full path in the same directory).
struct Request {
    QString from;
    QString to;
    QString label;        // names the request for the user, e.g. "Bild 3 (IMG_3.jpg)"
    int companionOf = -1; // a companion file's request: the index of its picture's
};

struct Refusal {
    int request = -1; // index into the requests
    Problem problem = Problem::None;
};

// One rename call of the plan; request tells whose file it moves.
struct Step {
    QString from;
    QString to;
    int request = -1;
};

// Where one file may be while the plan runs: its old name, a temporary name, its
// new name. The identity tells it apart from any other file under these names.
struct Move {
    QString from;
    QString to;
    QStringList temps;
    platform::FileId id;
    bool operator==(const Move &o) const
    {
        return from == o.from && to == o.to && temps == o.temps && id == o.id;
    }
    bool operator!=(const Move &o) const { return !(*this == o); }
};

struct Plan {
    QList<Request> requests;
    QList<Refusal> refusals; // when not empty, nothing may be renamed
    QList<Step> steps;       // in the order to run them
    QList<Move> moves;       // one per request that changes the name
    bool ok() const { return refusals.isEmpty(); }
};

// The prefix of the temporary names, hidden so a left-over one never shows in
// the list.
QString temporaryPrefix();

// Whether fileName has the form of the temporary names that plans give:
// ".namora-<process id>-<8 hex digits>-<counter>.tmp".
bool isTemporaryName(const QString &fileName);

// Plans the renames of any number of files. Every path of the plan is made
// absolute (against the working directory) and clean, and spelled as the
// file-name codec reads its bytes back. Requests whose from equals to are left
// alone. A request is refused when its file is missing, its new name is
// unusable or leaves the directory, its new name is taken by a file that is not
// renamed in this plan, or two requests share a file or a new name. Chains and
// cycles are ordered so every target is free when its rename runs; cycles and
// renames that change only letter case go through a temporary name in the same
// directory (on file systems that ignore case the old name still occupies the
// new one).
Plan planRenames(const QList<Request> &requests);

// A name typed for a picture: label names it for the user, from is the picture's
// full path, newName the typed name without extension.
struct NameEdit {
    QString label;
    QString from;
    QString newName;
    // The extension the file keeps, as it has it on disk.
    QString extension = QStringLiteral(".jpg");
    // File names (in the same directory) of its companions, renamed with it.
    QStringList companions{};
};

// Checks every typed name and plans the renames within dir (ending in a
// separator). The plan's first requests are the edits, by index; the requests
// of their companions follow, each with companionOf set, checked and planned
// like any other: a companion whose new name is taken or unusable refuses the
// whole plan.
Plan planNameEdits(const QString &dir, const QList<NameEdit> &edits);

// One message that names every refused request and why.
QString refusalMessage(const Plan &plan);

// How a picture of slot i with the file name fileName is named in messages.
QString slotLabel(int slot, const QString &fileName);

} // namespace renaming
