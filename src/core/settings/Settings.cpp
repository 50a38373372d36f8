#include "core/settings/Settings.h"

#include "core/settings/Ini.h"

const QString Settings::Section = QStringLiteral("Einstellungen");

QString Settings::keyName(Key key)
{
    switch (key) {
    case Key::Verzeichnis:
        return QStringLiteral("Verzeichnis");
    case Key::Vollbild:
        return QStringLiteral("Vollbild");
    case Key::LetztesDatum:
        return QStringLiteral("LetztesDatum");
    case Key::RechtsAnf:
        return QStringLiteral("RechtsAnf");
    case Key::BilderAnzeigen:
        return QStringLiteral("BilderAnzeigen");
    case Key::UpdateServer:
        return QStringLiteral("UpdateServer");
    case Key::DatumFormat:
        return QStringLiteral("DatumFormat");
    case Key::Sortierung:
        return QStringLiteral("Sortierung");
    case Key::Begleitdateien:
        return QStringLiteral("Begleitdateien");
    case Key::AlleSeiten:
        return QStringLiteral("AlleSeiten");
    }
    return QString();
}

Settings::Settings(const QString &iniPath, const Defaults &defaults, QObject *parent)
    : QObject(parent), m_iniPath(iniPath), m_defaults(defaults)
{
}

void Settings::load()
{
    // One reading of the file for all of them.
    QStringList keys;
    for (int k = 0; k < KeyCount; ++k)
        keys << keyName(Key(k));
    const QStringList values = ini::IniReadAll(Section, keys, m_iniPath);
    for (int k = 0; k < KeyCount; ++k)
        m_raw[size_t(k)] = values.at(k);
    m_unsaved.fill(false);
    emit loaded();
}

QString Settings::valueOr(Key key, const QString &fallback) const
{
    const QString &v = m_raw[size_t(key)];
    return v.isEmpty() ? fallback : v;
}

void Settings::store(Key key, const QString &value)
{
    // What a reader would find in the file after this write: values are
    // trimmed there, and one that cannot be kept reads as its default.
    const QString trimmed = value.trimmed();
    const size_t k = size_t(key);
    if (m_raw[k] == trimmed && !m_unsaved[k])
        return;
    m_raw[k] = trimmed;
    // The file stores the value as the next start reads it: without blanks.
    const ini::WriteResult written = ini::IniWrite(Section, keyName(key), trimmed, m_iniPath, true);
    m_unsaved[k] = !written.ok();
    if (!written.ok()) {
        if (m_firstFailure.isEmpty()) {
            m_firstFailure = written.reason.isEmpty() ? QStringLiteral("unbekannter Fehler") : written.reason;
            emit writeFailed(m_firstFailure);
        }
        return;
    }
    // The file can be written again: what could not be kept before is written
    // now, or it would be lost at the next start.
    for (int other = 0; other < KeyCount; ++other) {
        if (!m_unsaved[size_t(other)])
            continue;
        m_unsaved[size_t(other)] =
            !ini::IniWrite(Section, keyName(Key(other)), m_raw[size_t(other)], m_iniPath, true).ok();
    }
}

QString Settings::verzeichnis() const
{
    return valueOr(Key::Verzeichnis, m_defaults.verzeichnis);
}

void Settings::setVerzeichnis(const QString &directory)
{
    store(Key::Verzeichnis, directory);
}

bool Settings::vollbild() const
{
    return raw(Key::Vollbild) == QLatin1String("1");
}

void Settings::setVollbild(bool maximised)
{
    store(Key::Vollbild, maximised ? QStringLiteral("1") : QStringLiteral("0"));
}

QString Settings::letztesDatum() const
{
    return valueOr(Key::LetztesDatum, QStringLiteral("1990.01.31"));
}

void Settings::setLetztesDatum(const QString &prefix)
{
    store(Key::LetztesDatum, prefix);
}

QString Settings::rechtsAnf() const
{
    return raw(Key::RechtsAnf);
}

void Settings::setRechtsAnf(const QString &suffix)
{
    store(Key::RechtsAnf, suffix);
}

bool Settings::bilderAnzeigen() const
{
    return valueOr(Key::BilderAnzeigen, QStringLiteral("1")) == QLatin1String("1");
}

void Settings::setBilderAnzeigen(bool shown)
{
    store(Key::BilderAnzeigen, shown ? QStringLiteral("1") : QStringLiteral("0"));
}

QString Settings::updateServer() const
{
    return valueOr(Key::UpdateServer, m_defaults.updateServer);
}

void Settings::setUpdateServer(const QString &server)
{
    store(Key::UpdateServer, server);
}

QString Settings::datumFormat() const
{
    return valueOr(Key::DatumFormat, QStringLiteral("yyyy.MM.dd"));
}

void Settings::setDatumFormat(const QString &format)
{
    store(Key::DatumFormat, format);
}

bool Settings::begleitdateien() const
{
    return valueOr(Key::Begleitdateien, QStringLiteral("1")) != QLatin1String("0");
}

void Settings::setBegleitdateien(bool taken)
{
    store(Key::Begleitdateien, taken ? QStringLiteral("1") : QStringLiteral("0"));
}

bool Settings::alleSeiten() const
{
    return raw(Key::AlleSeiten) == QLatin1String("1");
}

void Settings::setAlleSeiten(bool whole)
{
    store(Key::AlleSeiten, whole ? QStringLiteral("1") : QStringLiteral("0"));
}

bool Settings::sortByCaptureDate() const
{
    return raw(Key::Sortierung).compare(QLatin1String("Aufnahmedatum"), Qt::CaseInsensitive) == 0;
}

void Settings::setSortByCaptureDate(bool byDate)
{
    store(Key::Sortierung, byDate ? QStringLiteral("Aufnahmedatum") : QStringLiteral("Name"));
}
