#pragma once

#include <QObject>
#include <QString>
#include <array>

// The values the program remembers between runs, in one typed object. They are
// read from the settings file once, at start, with the reader's rules (a missing
// or empty value reads as its default); every setter writes its value through
// to the file at once, atomically. The values in memory are the truth for the
// rest of the run: a write that fails never makes the program forget a value,
// and the first failure of a run is reported once.
class Settings : public QObject {
    Q_OBJECT
public:
    // The one place where the file's section and key names are spelled.
    static const QString Section; // "Einstellungen"
    enum class Key {
        Verzeichnis,
        Vollbild,
        LetztesDatum,
        RechtsAnf,
        BilderAnzeigen,
        UpdateServer,
        DatumFormat,
        Sortierung,
        Begleitdateien,
        AlleSeiten,
    };
    static QString keyName(Key key);

    struct Defaults {
        QString verzeichnis;  // the program's directory, with a trailing separator
        QString updateServer; // the update server's address
    };

    Settings(const QString &iniPath, const Defaults &defaults, QObject *parent = nullptr);

    // Reads every key from the file. Before this, every value is its default.
    void load();

    QString iniPath() const { return m_iniPath; }

    // The picture directory as stored (the caller makes it absolute).
    QString verzeichnis() const;
    void setVerzeichnis(const QString &directory);
    // The window was maximised: stored exactly "1".
    bool vollbild() const;
    void setVollbild(bool maximised);
    // The date prefix, default "1990.01.31".
    QString letztesDatum() const;
    void setLetztesDatum(const QString &prefix);
    // The suffix, default empty.
    QString rechtsAnf() const;
    void setRechtsAnf(const QString &suffix);
    // Thumbnails shown: anything but exactly "1" is unchecked; missing is checked.
    bool bilderAnzeigen() const;
    void setBilderAnzeigen(bool shown);
    QString updateServer() const;
    void setUpdateServer(const QString &server);
    // The format of a picture's own date as a name prefix (a Qt date-time
    // format), default "yyyy.MM.dd"; as stored, checked by whoever uses it.
    QString datumFormat() const;
    void setDatumFormat(const QString &format);
    // The list order: by name (stored "Name", the default, and anything
    // unknown) or by capture date (stored "Aufnahmedatum").
    // Whether a picture's companion files (RAW, sidecars) are renamed with it;
    // on unless the file says "0".
    bool begleitdateien() const;
    void setBegleitdateien(bool taken);
    // Whether the bulk tools and the save take the whole directory; off unless
    // the file says "1".
    bool alleSeiten() const;
    void setAlleSeiten(bool whole);
    bool sortByCaptureDate() const;
    void setSortByCaptureDate(bool byDate);

    // Why the first write of this run failed; empty while none failed.
    QString firstFailure() const { return m_firstFailure; }

signals:
    // load() has read the file: every value may have changed.
    void loaded();
    // The first write of this run that could not be stored (the value is kept
    // in memory all the same). Later failures are not reported again.
    void writeFailed(const QString &reason);

private:
    static constexpr int KeyCount = 10;
    QString raw(Key key) const { return m_raw[size_t(key)]; }
    QString valueOr(Key key, const QString &fallback) const;
    void store(Key key, const QString &value);

    QString m_iniPath;
    Defaults m_defaults;
    std::array<QString, KeyCount> m_raw; // as stored, trimmed; empty when missing
    std::array<bool, KeyCount> m_unsaved{};
    QString m_firstFailure;
};
