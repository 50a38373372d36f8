#pragma once

#include <QString>

namespace platform {

// The system's reason for an error number, in the program's language: German
// wording for the errors users meet when renaming and saving (a name that is
// taken, no permission, a read-only or full medium, a missing file, a busy
// file, a read or write error of the medium, a name too long, a broken network
// share), the system's own text for anything else.
QString errorText(int errorNumber);

} // namespace platform
