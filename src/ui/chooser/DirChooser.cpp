#include "ui/chooser/DirChooser.h"

#include "core/pages/PageModel.h"
#include "core/platform/FileNames.h"
#include "core/settings/Settings.h"
#include "ui/pages/UnsavedNames.h"
#include "ui/window/Controls.h"
#include "ui/window/Twips.h"
#include "ui/window/Widgets.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QGroupBox>
#include <QPushButton>
#include <QTreeView>
#include <algorithm>

DirChooser::DirChooser(QWidget &window, Controls &controls, Settings &settings, PageModel &model,
                       UnsavedNames &unsaved, QObject *parent)
    : QObject(parent), m_window(window), m_c(controls), m_settings(settings), m_model(model),
      m_unsaved(unsaved), m_volumes(&dirs::mountedVolumes)
{
    connect(m_c.VerzeichnisWechseln, &QPushButton::clicked, this, &DirChooser::VerzeichnisWechseln_Click);
    connect(m_c.VerzeichnisText, &ClickLabel::clicked, this, &DirChooser::VerzeichnisText_Click);
    // activated comes from the user only (mouse or keys); the opening calls the
    // handler itself when it switches the drive.
    connect(m_c.Drive1, qOverload<int>(&QComboBox::activated), this, &DirChooser::Drive1_Change);
    connect(m_c.PfadSpeichern, &QPushButton::clicked, this, &DirChooser::PfadSpeichern_Click);
    connect(m_c.Command2, &QPushButton::clicked, this, &DirChooser::Command2_Click);
    connect(m_c.Command5, &QPushButton::clicked, this, &DirChooser::Command5_Click);
}

void DirChooser::setVolumeSource(std::function<QList<dirs::Volume>()> source)
{
    m_volumes = std::move(source);
}

void DirChooser::ensureModel()
{
    if (m_tree)
        return;
    // Built on first use, so a start that never opens the panel reads no
    // directory tree.
    m_tree = new QFileSystemModel(this);
    m_tree->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives);
    m_tree->setReadOnly(true);
    // Connected before the view takes the model, so this runs before the view
    // moves its current item off a directory that vanished.
    connect(m_tree, &QFileSystemModel::rowsAboutToBeRemoved, this, [this] { m_rowsGoing = true; });
    connect(m_tree, &QFileSystemModel::rowsRemoved, this, [this] {
        m_rowsGoing = false;
        // No highlight on a neighbour that "Speichern" would not take.
        if (!platform::isDirectory(m_path))
            m_c.DirTemp->selectionModel()->clear();
    });
    m_tree->setRootPath(QDir::rootPath());
    m_c.DirTemp->setModel(m_tree);
    for (int col = 1; col < m_tree->columnCount(); ++col)
        m_c.DirTemp->hideColumn(col);
    m_c.DirTemp->setSelectionMode(QAbstractItemView::SingleSelection);
    m_c.DirTemp->setSelectionBehavior(QAbstractItemView::SelectRows);
    connect(m_c.DirTemp->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex &current) { currentChanged(current); });
}

void DirChooser::currentChanged(const QModelIndex &current)
{
    // A directory that went away while chosen stays chosen: taking a neighbour
    // instead would open a directory the user never picked.
    if (m_rowsGoing || !current.isValid())
        return;
    // The model names a directory that is not UTF-8 with U+FFFD in it.
    m_path = platform::fromQtPath(m_tree->filePath(current));
}

bool DirChooser::setPath(const QString &dir)
{
    ensureModel();
    if (dir.isEmpty() || !platform::isDirectory(dir))
        return false;
    m_path = platform::absoluteDirectory(dir);
    if (m_path.size() > 1)
        m_path.chop(1);
    const QModelIndex index = m_tree->index(platform::toQtPath(m_path));
    if (index.isValid()) {
        for (QModelIndex p = index.parent(); p.isValid(); p = p.parent())
            m_c.DirTemp->expand(p);
        m_c.DirTemp->setCurrentIndex(index);
        m_c.DirTemp->scrollTo(index);
    } else {
        m_c.DirTemp->setCurrentIndex(QModelIndex());
    }
    return true;
}

void DirChooser::fillDrives()
{
    const QString previous = m_c.Drive1->currentData().toString();
    QStringList roots;
    const QFileInfoList drives = QDir::drives();
    for (const QFileInfo &d : drives)
        roots << d.absoluteFilePath();
    const QList<dirs::Drive> list = dirs::driveList(roots, m_volumes ? m_volumes() : QList<dirs::Volume>());
    m_c.Drive1->clear();
    for (const dirs::Drive &d : list)
        m_c.Drive1->addItem(d.caption, d.rootPath);
    const int again = m_c.Drive1->findData(previous);
    m_c.Drive1->setCurrentIndex(again >= 0 ? again : 0);
}

void DirChooser::VerzeichnisWechseln_Click()
{
    ensureModel();
    twips::setTop(m_c.VerzeichnisWahl, dirs::PanelTop);
    if (const auto h = dirs::panelHeight(twips::windowHeight(&m_window)))
        twips::setHeight(m_c.VerzeichnisWahl, *h);
    m_c.VerzeichnisWahl->show();
    m_c.VerzeichnisWahl->raise();

    // Volumes come and go while the program runs, so the list is read anew.
    fillDrives();
    // The panel opens where the picture directory is, or at its nearest parent
    // that still exists.
    const QString start = dirs::nearestExistingDirectory(m_model.directory());
    QList<dirs::Drive> drives;
    for (int i = 0; i < m_c.Drive1->count(); ++i)
        drives << dirs::Drive{m_c.Drive1->itemData(i).toString(), m_c.Drive1->itemText(i)};
    const int drive = dirs::driveFor(drives, start);
    if (drive >= 0 && drive != m_c.Drive1->currentIndex()) {
        m_c.Drive1->setCurrentIndex(drive);
        Drive1_Change();
    }
    setPath(start);
    m_c.DirTemp->setFocus(Qt::OtherFocusReason);
}

void DirChooser::VerzeichnisText_Click()
{
    VerzeichnisWechseln_Click();
}

void DirChooser::Drive1_Change()
{
    const QString root = m_c.Drive1->currentData().toString();
    // A drive that is not ready leaves the tree where it was.
    if (!QFileInfo(root).isDir() || !QFileInfo(root).isReadable())
        return;
    setPath(root);
}

void DirChooser::PfadSpeichern_Click()
{
    const QString chosen = dirs::pictureDirFrom(path());
    if (!chosen.isEmpty())
        openDirectory(chosen);
}

bool DirChooser::openDirectory(const QString &dir, const QString &picture)
{
    // Names typed on the page would go with the old directory's list: ask first.
    if (m_unsaved.ask() == UnsavedNames::Answer::Cancelled)
        return false;
    // Remembered for the next start; kept for this run even when the settings
    // file cannot take it.
    m_settings.setVerzeichnis(dir);
    m_model.load(dir);
    m_c.VerzeichnisWahl->hide();
    m_model.setPageOf(picture);
    m_model.showPage(true);
    return true;
}

void DirChooser::Command2_Click()
{
    m_c.VerzeichnisWahl->hide();
}

void DirChooser::Command5_Click()
{
    m_model.reload();
    m_model.showPage(true);
}
