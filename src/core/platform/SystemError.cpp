#include "core/platform/SystemError.h"

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
    case EIO:
        return QStringLiteral("Der Datenträger meldet einen Lese- oder Schreibfehler");
    case ENAMETOOLONG:
        return QStringLiteral("Der Name ist zu lang");
    case ENOTDIR:
        return QStringLiteral("Ein Teil des Pfades ist kein Verzeichnis");
    case EISDIR:
        return QStringLiteral("Das ist ein Verzeichnis, keine Datei");
    case ELOOP:
        return QStringLiteral("Der Pfad führt über einen symbolischen Verweis");
    case EXDEV:
        return QStringLiteral("Die Datei liegt auf einem anderen Datenträger");
    case EMFILE:
    case ENFILE:
        return QStringLiteral("Es sind zu viele Dateien geöffnet");
    case ESTALE:
        return QStringLiteral("Die Verbindung zum Netzlaufwerk ist unterbrochen");
    default:
        return QString::fromLocal8Bit(std::strerror(errorNumber));
    }
}

} // namespace platform
