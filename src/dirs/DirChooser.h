#pragma once

#include "dirs/Volumes.h"

#include <QObject>
#include <functional>

class Form1;
class QFileSystemModel;
class QModelIndex;
struct Controls;
struct FormState;

// The panel in which another picture directory is chosen: a list of drives
// (file system roots and mounted volumes) and a tree of directories.
class DirChooser : public QObject {
    Q_OBJECT
public:
    explicit DirChooser(Form1 &form);

    void VerzeichnisWechseln_Click(); // opens the panel at the current directory
    void VerzeichnisText_Click();
    void Drive1_Change();       // the tree goes to the chosen drive, when it is ready
    void PfadSpeichern_Click(); // takes the chosen directory
    void Command2_Click();      // closes the panel, changing nothing

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

    Form1 &m_form;
    Controls &m_c;
    FormState &m_s;
    QFileSystemModel *m_model = nullptr;
    QString m_path;
    bool m_rowsGoing = false;
    std::function<QList<dirs::Volume>()> m_volumes;
};
