#pragma once

#include "core/platform/Volumes.h"

#include <QObject>
#include <functional>

class PageModel;
class QFileSystemModel;
class QModelIndex;
class QWidget;
class Settings;
class UnsavedNames;
struct Controls;

// The panel in which another picture directory is chosen: a list of drives
// (file system roots and mounted volumes) and a tree of directories. Also
// "Verzeichnis neu einlesen", which reads the open directory again.
class DirChooser : public QObject {
    Q_OBJECT
public:
    DirChooser(QWidget &window, Controls &controls, Settings &settings, PageModel &model,
               UnsavedNames &unsaved, QObject *parent = nullptr);

    void VerzeichnisWechseln_Click(); // opens the panel at the current directory
    void VerzeichnisText_Click();
    void Drive1_Change();       // the tree goes to the chosen drive, when it is ready
    void PfadSpeichern_Click(); // takes the chosen directory
    // Takes dir as the picture directory, as "Speichern" does (asking first
    // about typed names), and shows the page holding picture, or the first.
    // False when the user cancelled.
    bool openDirectory(const QString &dir, const QString &picture = QString());
    void Command2_Click();      // closes the panel, changing nothing
    // "Verzeichnis neu einlesen": reads the directory of this run again (not the
    // remembered one: they differ when the settings file could not store it)
    // and shows the same page number for the new list.
    void Command5_Click();

    // The directory chosen in the tree. It stays as it is when that directory
    // vanishes while the panel is open, rather than moving to a neighbour.
    QString path() const { return m_path; }
    // Moves the tree to dir; false (and nothing moves) when dir is not a directory.
    bool setPath(const QString &dir);

    // Where the drive list comes from; tests put volumes of their own here.
    void setVolumeSource(std::function<QList<dirs::Volume>()> source);

private:
    void ensureModel();
    void fillDrives();
    void currentChanged(const QModelIndex &current);

    QWidget &m_window;
    Controls &m_c;
    Settings &m_settings;
    PageModel &m_model;
    UnsavedNames &m_unsaved;
    QFileSystemModel *m_tree = nullptr;
    QString m_path;
    bool m_rowsGoing = false;
    std::function<QList<dirs::Volume>()> m_volumes;
};
