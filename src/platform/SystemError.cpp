#include "platform/SystemError.h"

#include <cerrno>
#include <cstring>

namespace platform {

QString errorText(int errorNumber)
{
    switch (errorNumber) {
    case EEXIST:
    case ENOTEMPTY:
        return QStringLiteral("Eine Datei dieses Namens gibt es schon");
    case EACCES:
    case EPERM:
        return QStringLiteral("Keine Berechtigung");
    case EROFS:
        return QStringLiteral("Der Datenträger ist schreibgeschützt");
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("Auf dem Datenträger ist kein Platz mehr frei");
    case ENOENT:
        return QStringLiteral("Datei oder Verzeichnis nicht gefunden");
    case EBUSY:
    case ETXTBSY:
        return QStringLiteral("Die Datei wird gerade benutzt");
    default:
        return QString::fromLocal8Bit(std::strerror(errorNumber));
    }
}

} // namespace platform
