#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>

class ClickLabel;
class QProgressBar;
class QProgressDialog;
class QWidget;
class Settings;
class UnsavedNames;

namespace wwwupdate {
class UpdaterFetch;
struct FetchResult;
} // namespace wwwupdate

// The online update behind "Online Update": fetching the updater with its signed
// manifest, and handing the program over to it.
class UpdateActions : public QObject {
    Q_OBJECT
public:
    enum class UpdateOutcome {
        Started,        // the updater runs; the program ends
        Downloading,    // the updater is being fetched; the outcome follows
        Refused,        // an address is not https: nothing fetched, nothing started
        DownloadFailed, // fetching the updater failed or was cancelled
        NotFound,       // the updater was not there when it was to be started
        StartFailed,    // the updater could not be started
        Cancelled,      // the user kept the program for unsaved names
        Busy,           // an update is already under way
        NoKey,          // this build carries no key to check updates with
        BadSignature,   // the release is not signed with our key: nothing kept or started
        TooLarge,       // the offered manifest is far larger than a manifest: nothing kept or started
        NotNewer,       // the signed release is not newer than the running program
        Mismatch,       // the updater is not the one its signed manifest describes
    };
    Q_ENUM(UpdateOutcome)

    UpdateActions(QWidget &window, ClickLabel &label, Settings &settings, UnsavedNames &unsaved,
                  const QString &programDir, QObject *parent = nullptr);
    ~UpdateActions() override;

    // An installed program is updated by the system's package manager: the link
    // then says so and fetches nothing.
    void setInstalledProgram(bool installed) { m_installed = installed; }

    // Starts the update with the server from the settings.
    void Label1_Click();

    // Starts the updater and ends the program. The updater must be the one a
    // manifest signed with the build's key describes, for a newer version than
    // the running one; a stored updater that is missing or does not pass is
    // fetched anew with its manifest, and never started. Returns Downloading
    // while they are fetched; every final outcome is also reported through
    // updateFinished().
    UpdateOutcome OnlineUpdate(const QString &programUrl, const QString &programFile,
                               const QString &updaterPath, const QString &updaterUrl, const QString &extra);

    // How the program ends for the update; tests put a recorder here.
    std::function<void()> endProgram;
    // For tests: runs between the updater's last check and its start.
    std::function<void()> afterCheck;

    // Without data for this long a download fails.
    void setDownloadTimeout(int ms) { m_timeoutMs = ms; }

    bool isUpdating() const { return m_fetch != nullptr; }

    // The window is closing: a running download goes with it, quietly (the
    // temporary file goes, nothing is started, no message).
    void windowClosing();

signals:
    void updateFinished(UpdateActions::UpdateOutcome outcome);

private:
    struct Pending {
        QString programUrl, programFile, updaterPath, updaterUrl, extra;
    };

    void fetchFinished(const wwwupdate::FetchResult &result);
    UpdateOutcome startUpdater(const Pending &p);
    UpdateOutcome refuse(UpdateOutcome outcome, const QString &address, const QString &version, bool fetched);
    UpdateOutcome report(UpdateOutcome outcome);
    void closeProgress();

    QWidget &m_window;
    Settings &m_settings;
    UnsavedNames &m_unsaved;
    QString m_programDir;
    bool m_installed = false;
    int m_timeoutMs;
    Pending m_pending;
    wwwupdate::UpdaterFetch *m_fetch = nullptr;
    QPointer<QProgressDialog> m_progress;
    QPointer<QProgressBar> m_bar;
};
