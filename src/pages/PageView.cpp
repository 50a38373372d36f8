#include "pages/PageView.h"

#include "app/Form1.h"
#include "app/Ini.h"
#include "app/Twips.h"
#include "app/Widgets.h"
#include "pages/Grid.h"
#include "pages/PictureList.h"
#include "platform/FileNames.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalBlocker>

namespace {
const QString Section = QStringLiteral("Einstellungen");
}

PageView::PageView(Form1 &form) : m_form(form), m_c(form.controls()), m_s(form.state())
{
    m_slotIndex.fill(-1);
}

void PageView::LoadFileList(const QString &directory)
{
    // Whatever the source, the directory is absolute and clean from here on, so
    // every path joined to it names a file inside it.
    const QString fallback = platform::absoluteDirectory(m_form.options().programDir);
    m_s.PictureDir = directory.isEmpty() ? platform::absoluteDirectory(ini::IniRead(
                                               Section, QStringLiteral("Verzeichnis"), m_s.IniPath, fallback))
                                         : platform::absoluteDirectory(directory);
    if (m_s.PictureDir.isEmpty())
        m_s.PictureDir = fallback;
    const pages::PictureListing listing = pages::listPictures(m_s.PictureDir);
    // A directory that cannot be listed shows an empty list: never the files of
    // another directory under this directory's name.
    m_s.FileNames = listing.ok ? listing.names : QStringList();
    m_s.FileCount = int(m_s.FileNames.size());
    m_s.FileNames << QString() << QString();
    m_s.ListError = listing.ok ? QString() : listing.reason;
    m_s.TypedNames.clear();
}

QString PageView::directoryCaption() const
{
    if (m_s.ListError.isEmpty())
        return m_s.PictureDir;
    return m_s.PictureDir + QStringLiteral("  (nicht lesbar: ") + m_s.ListError + QLatin1Char(')');
}

void PageView::ShowPage(bool reload)
{
    m_c.JahrText->setText(
        ini::IniRead(Section, QStringLiteral("LetztesDatum"), m_s.IniPath, QStringLiteral("1990.01.31")));
    m_c.RechtsAnfTxt->setText(ini::IniRead(Section, QStringLiteral("RechtsAnf"), m_s.IniPath, QString()));

    // Setting the box from the settings must not write the setting back, so its
    // signals are held while it is set.
    {
        const QSignalBlocker block(m_c.BilderAnzeigen);
        m_c.BilderAnzeigen->setChecked(ini::IniRead(Section, QStringLiteral("BilderAnzeigen"), m_s.IniPath,
                                                    QStringLiteral("1")) == QLatin1String("1"));
    }

    m_c.VerzeichnisText->setText(directoryCaption());

    if (reload) {
        m_s.TypedNames.clear();
        ++m_s.Generation;
        emit pageReloading();
    }
    const QPixmap placeholder = m_c.NoImage->pixmap();
    for (int i = 0; i <= m_s.LastSlot; ++i) {
        if (reload)
            m_c.Picture1[i]->setPicture(placeholder);
        m_c.Text1[i]->setPlainText(QString());
        m_s.PageNames[i].clear();
    }

    const int count = m_s.FileCount;
    if (m_s.LastSlot < count) {
        m_c.NextBtn->setEnabled(grid::nextEnabled(m_s.PageIndex, m_s.LastSlot, count));
        m_c.ZurueckBtn->setEnabled(grid::backEnabled(m_s.PageIndex));
    }
    m_c.CounterTxt->setText(grid::counter(m_s.PageIndex, m_s.LastSlot, count, m_s.FileCount).caption());

    bool moved = false;
    for (int i = 0; i < FormState::SlotCount; ++i) {
        if (i > m_s.LastSlot || m_s.Closing) {
            m_slotIndex[i] = -1;
            continue;
        }
        const qint64 k = qint64(m_s.PageIndex) * (m_s.LastSlot + 1) + i;
        const qint64 shown = k < count ? k : -1;
        if (!reload && shown != m_slotIndex[i]) {
            // The slot now shows another picture: its old thumbnail must go.
            m_c.Picture1[i]->setPicture(placeholder);
            moved = moved || shown >= 0;
        }
        m_slotIndex[i] = shown;
        if (k < count) {
            m_c.Text1[i]->setVisible(true);
            m_c.Picture1[i]->setVisible(true);
            m_c.Command3[i]->setVisible(true);
            const QString &name = m_s.FileNames[int(k)];
            m_s.PageNames[i] = platform::joinPath(m_s.PictureDir, name);
            const auto typed = m_s.TypedNames.constFind(name);
            m_c.Text1[i]->setPlainText(typed != m_s.TypedNames.cend() ? *typed : name.left(name.size() - 4));
        } else {
            m_c.Text1[i]->setPlainText(QString());
            m_c.Text1[i]->setVisible(false);
            m_c.Picture1[i]->setVisible(false);
            m_c.Command3[i]->setVisible(false);
        }
    }

    // Pictures already decoded come from the thumbnail cache at once, so a pass
    // after a relayout only decodes the pictures new to the page.
    if (m_c.BilderAnzeigen->isChecked() && (reload || moved) && !m_s.Closing)
        emit thumbnailPassRequested();
}

void PageView::LayoutThumbnails()
{
    grid::Input in;
    in.width = twips::windowWidth(&m_form);
    in.height = twips::windowHeight(&m_form);
    in.bottomFrameHeight = twips::height(m_c.BottomFrame1);
    in.text1Top = twips::top(m_c.Text1[0]);
    in.text1Height = twips::height(m_c.Text1[0]);
    in.picture1Left = twips::left(m_c.Picture1[0]);
    const grid::Result r = grid::compute(in);
    m_s.GridRows = r.rows;
    if (!r.placed)
        return;

    const double top0 = twips::top(m_c.TopFrame2) + twips::height(m_c.TopFrame2);
    twips::setTop(m_c.Picture1[0], top0);
    twips::setTop(m_c.Text1[0], top0);
    twips::setTop(m_c.Command3[0], top0 + grid::ButtonOffset);
    const double pl = twips::left(m_c.Picture1[0]);
    const double tl = twips::left(m_c.Text1[0]);
    const double bl = twips::left(m_c.Command3[0]);
    // Slot i stands in column i / rows and row i % rows, counted from slot 0.
    for (int i = 1; i <= grid::HighestSlot; ++i) {
        const double top = top0 + grid::slotRowOffset(i, r.rows);
        const double col = grid::slotColumnOffset(i, r.rows);
        twips::place(m_c.Picture1[i], pl + col, top, twips::width(m_c.Picture1[i]),
                     twips::height(m_c.Picture1[i]));
        twips::place(m_c.Text1[i], tl + col, top, twips::width(m_c.Text1[i]), twips::height(m_c.Text1[i]));
        twips::place(m_c.Command3[i], bl + col, top + grid::ButtonOffset, twips::width(m_c.Command3[i]),
                     twips::height(m_c.Command3[i]));
    }
    m_s.GridColumns = r.columns;
    m_s.LastSlot = r.lastSlot;
}
