#include "core/platform/Volumes.h"
#include "core/settings/Ini.h"
#include "support/PermissionOverride.h"
#include "support/TestSupport.h"
#include "ui/chooser/DirChooser.h"
#include "ui/pages/PageView.h"
#include "ui/window/Twips.h"
#include "ui/window/Widgets.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileSystemModel>
#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeView>
#include <QtTest>

#include <dirent.h>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

class DirChooserTest : public QObject {
    Q_OBJECT
private slots:
    void pseudoVolumesAreNotOffered_data();
    void pseudoVolumesAreNotOffered();
    void directoryBelongsToItsLongestMountPoint_data();
    void directoryBelongsToItsLongestMountPoint();
    void pictureDirGetsTrailingSlash_data();
    void pictureDirGetsTrailingSlash();
    void panelHeightRefusedWhenNegative();
    void openingStartsAtNearestExistingDirectory();

    void opensAboveThumbnailsAtCurrentDirectory();
    void speichernTakesDirectoryAndShowsPageOne();
    void abbruchChangesNothing();
    void keysExpandAndJumpToSubdirectory();
    void driveNotReadyLeavesTreeWhereItWas();
    void vanishedDirectoryGivesHintNotNeighbour();
    void unreadableDirectoryGivesHint();
    void cancelledQuestionKeepsDirectoryAndNames();
};

namespace {

const QString Section = QStringLiteral("Einstellungen");

DirChooser &chooser(Form1 &form)
{
    return *form.findChild<DirChooser *>();
}

QString setting(const testing::FormFixture &f, const QString &key)
{
    return ini::IniRead(Section, key, f.iniPath(), QString());
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QString pageTexts(Form1 &form)
{
    QStringList t;
    for (int i = 0; i <= form.model().lastSlot(); ++i)
        t << form.controls().Text1[i]->toPlainText();
    return t.join(QLatin1Char('|'));
}

QString makeDir(const QString &parent, const QString &name, const QStringList &pictures = {})
{
    QDir(parent).mkpath(name);
    const QString path = QDir(parent).filePath(name);
    testing::writePictures(path, pictures, QSize(16, 12));
    return path;
}

bool canList(const QString &dir)
{
    DIR *d = opendir(QFile::encodeName(dir).constData());
    if (d)
        closedir(d);
    return d != nullptr;
}

} // namespace

void DirChooserTest::pseudoVolumesAreNotOffered_data()
{
    QTest::addColumn<QString>("root");
    QTest::addColumn<QString>("type");
    QTest::addColumn<bool>("offered");
    QTest::newRow("ext4 stick") << QStringLiteral("/media/usb") << QStringLiteral("ext4") << true;
    QTest::newRow("stick under /run/media")
        << QStringLiteral("/run/media/ich/KAMERA") << QStringLiteral("vfat") << true;
    QTest::newRow("tmp in memory") << QStringLiteral("/tmp") << QStringLiteral("tmpfs") << true;
    QTest::newRow("proc") << QStringLiteral("/proc") << QStringLiteral("proc") << false;
    QTest::newRow("cgroup") << QStringLiteral("/sys/fs/cgroup/cpu") << QStringLiteral("cgroup") << false;
    QTest::newRow("run-time dir") << QStringLiteral("/run/user/1000") << QStringLiteral("tmpfs") << false;
    QTest::newRow("shared memory") << QStringLiteral("/dev/shm") << QStringLiteral("tmpfs") << false;
    QTest::newRow("snap image") << QStringLiteral("/snap/core/1") << QStringLiteral("squashfs") << false;
    QTest::newRow("container layer") << QStringLiteral("/var/lib/docker/overlay2/x")
                                     << QStringLiteral("overlay") << false;
}

void DirChooserTest::pseudoVolumesAreNotOffered()
{
    QFETCH(QString, root);
    QFETCH(QString, type);
    const QList<dirs::Drive> drives = dirs::driveList({QStringLiteral("/")}, {{root, type, QString(), true}});
    QCOMPARE(drives.first().rootPath, QStringLiteral("/"));
    QTEST(drives.size() == 2, "offered");
}

void DirChooserTest::directoryBelongsToItsLongestMountPoint_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("drive");
    QTest::newRow("plain directory on the root") << QStringLiteral("/home/ich/Bilder") << 0;
    QTest::newRow("inside the stick") << QStringLiteral("/media/usb/DCIM/") << 1;
    QTest::newRow("the stick itself") << QStringLiteral("/media/usb") << 1;
    QTest::newRow("a longer name is another place") << QStringLiteral("/media/usb2/DCIM") << 0;
    QTest::newRow("nested mount wins") << QStringLiteral("/media/usb/inner/x") << 2;
    QTest::newRow("relative path") << QStringLiteral("Bilder") << -1;
}

void DirChooserTest::directoryBelongsToItsLongestMountPoint()
{
    QFETCH(QString, path);
    const QList<dirs::Volume> volumes = {
        {QStringLiteral("/media/usb/inner"), QStringLiteral("ext4"), {}, true},
        {QStringLiteral("/media/usb"), QStringLiteral("vfat"), {}, true},
        {QStringLiteral("/"), QStringLiteral("ext4"), {}, true}};
    const QList<dirs::Drive> drives = dirs::driveList({QStringLiteral("/")}, volumes);
    QCOMPARE(drives.size(), 3); // "/" once, then the mounts by path
    QTEST(dirs::driveFor(drives, path), "drive");
}

void DirChooserTest::pictureDirGetsTrailingSlash_data()
{
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("pictureDir");
    QTest::newRow("plain") << QStringLiteral("/nirgends/Bilder") << QStringLiteral("/nirgends/Bilder/");
    QTest::newRow("root") << QStringLiteral("/") << QStringLiteral("/");
    QTest::newRow("blanks around a path that is no directory")
        << QStringLiteral("  /nirgends/a ") << QStringLiteral("/nirgends/a/");
    QTest::newRow("a backslash is part of a name here")
        << QStringLiteral("/nirgends/a\\b") << QStringLiteral("/nirgends/a\\b/");
    QTest::newRow("nothing chosen") << QString() << QString();
}

void DirChooserTest::pictureDirGetsTrailingSlash()
{
    QFETCH(QString, chosen);
    QTEST(dirs::pictureDirFrom(chosen), "pictureDir");
}

void DirChooserTest::panelHeightRefusedWhenNegative()
{
    QCOMPARE(dirs::panelHeight(10800).value_or(-1), 10060.0);
    QCOMPARE(dirs::panelHeight(740).value_or(-1), 0.0);
    QVERIFY(!dirs::panelHeight(739).has_value());
}

void DirChooserTest::openingStartsAtNearestExistingDirectory()
{
    QTemporaryDir tmp;
    const QString blank = makeDir(tmp.path(), QStringLiteral(" Fotos "));
    QCOMPARE(dirs::nearestExistingDirectory(blank + QLatin1Char('/')), blank);
    QCOMPARE(dirs::nearestExistingDirectory(blank + QStringLiteral("/weg/auch weg/")), blank);
    // A name with blanks around it is taken as it is.
    QCOMPARE(dirs::pictureDirFrom(blank), blank + QLatin1Char('/'));
}

void DirChooserTest::opensAboveThumbnailsAtCurrentDirectory()
{
    testing::FormFixture f;
    testing::writePictures(f.pictureDir.path(), {QStringLiteral("a.jpg")});
    Form1 &form = f.start();
    const Controls &c = form.controls();
    QVERIFY(c.VerzeichnisWahl->isHidden());
    QTest::mouseClick(c.VerzeichnisText, Qt::LeftButton);
    QVERIFY(c.VerzeichnisWahl->isVisible());
    QCOMPARE(c.VerzeichnisWahl->y(), twips::toPx(50));
    QCOMPARE(c.VerzeichnisWahl->height(), twips::toPx(twips::windowHeight(&form) - 740));
    QCOMPARE(form.findChildren<QWidget *>(Qt::FindDirectChildrenOnly).last(), c.VerzeichnisWahl);
    QCOMPARE(chooser(form).path(), f.pictureDir.path());
    auto *model = qobject_cast<QFileSystemModel *>(c.DirTemp->model());
    QCOMPARE(model->filePath(c.DirTemp->currentIndex()), f.pictureDir.path());
    QCOMPARE(c.Drive1->currentData().toString(), QStringLiteral("/"));

    // Too low a window refuses the negative height: the panel keeps its height.
    QTest::mouseClick(c.Command2, Qt::LeftButton);
    const int height = c.VerzeichnisWahl->height();
    twips::setWindowSize(&form, 23000, 700);
    QTest::mouseClick(c.VerzeichnisWechseln, Qt::LeftButton);
    QCOMPARE(c.VerzeichnisWahl->height(), height);
}

void DirChooserTest::speichernTakesDirectoryAndShowsPageOne()
{
    testing::FormFixture f;
    QStringList many;
    for (int i = 0; i < 60; ++i)
        many << QStringLiteral("P%1.jpg").arg(i, 2, 10, QLatin1Char('0'));
    testing::writePictures(f.pictureDir.path(), many, QSize(16, 12));
    QTemporaryDir other;
    testing::writePictures(other.path(), {QStringLiteral("x1.jpg"), QStringLiteral("x2.jpg")});
    Form1 &form = f.start();
    const Controls &c = form.controls();
    form.model().setPageIndex(1); // somewhere past the first page
    form.model().showPage(true);
    c.NummerTxt->setText(QStringLiteral("17"));

    QTest::mouseClick(c.VerzeichnisWechseln, Qt::LeftButton);
    QVERIFY(chooser(form).setPath(other.path()));
    QTest::mouseClick(c.PfadSpeichern, Qt::LeftButton);

    const QString chosen = other.path() + QLatin1Char('/');
    QCOMPARE(setting(f, QStringLiteral("Verzeichnis")), chosen);
    QCOMPARE(form.model().directory(), chosen);
    QCOMPARE(c.VerzeichnisText->text(), chosen);
    QVERIFY(c.VerzeichnisWahl->isHidden());
    QCOMPARE(form.model().pageIndex(), 0);
    QCOMPARE(form.model().fileCount(), 2);
    QCOMPARE(c.Text1[0]->toPlainText(), QStringLiteral("x1"));
    QCOMPARE(c.Text1[1]->toPlainText(), QStringLiteral("x2"));
    QVERIFY(c.Text1[2]->isHidden());
    QVERIFY(c.CounterTxt->text().startsWith(QLatin1String("Seite: 1 / 1")));
    QCOMPARE(c.NummerTxt->text(), QStringLiteral("17"));
}

void DirChooserTest::abbruchChangesNothing()
{
    testing::FormFixture f;
    testing::writePictures(f.pictureDir.path(), {QStringLiteral("a.jpg"), QStringLiteral("b.jpg")});
    QTemporaryDir other;
    Form1 &form = f.start();
    const Controls &c = form.controls();
    chooser(form).setVolumeSource([&] {
        return QList<dirs::Volume>{{other.path(), QStringLiteral("ext4"), QStringLiteral("Karte"), true}};
    });
    const QByteArray settings = fileBytes(f.iniPath());
    const QString page = pageTexts(form), dir = form.model().directory();

    QTest::mouseClick(c.VerzeichnisWechseln, Qt::LeftButton);
    c.Drive1->setFocus();
    QTest::keyClick(c.Drive1, Qt::Key_Down); // the user picks the card
    QCOMPARE(chooser(form).path(), other.path());
    QTest::mouseClick(c.Command2, Qt::LeftButton);

    QVERIFY(c.VerzeichnisWahl->isHidden());
    QCOMPARE(fileBytes(f.iniPath()), settings);
    QCOMPARE(form.model().directory(), dir);
    QCOMPARE(pageTexts(form), page);
    // Opening again starts from the picture directory, not the cancelled choice.
    QTest::mouseClick(c.VerzeichnisWechseln, Qt::LeftButton);
    QCOMPARE(chooser(form).path(), f.pictureDir.path());
    QCOMPARE(c.Drive1->currentData().toString(), QStringLiteral("/"));
}

void DirChooserTest::keysExpandAndJumpToSubdirectory()
{
    testing::FormFixture f;
    for (const char *name : {"Alpha", "Beta", "Gamma"})
        makeDir(f.pictureDir.path(), QString::fromUtf8(name));
    testing::writePictures(f.pictureDir.path() + QStringLiteral("/Gamma"), {QStringLiteral("g.jpg")});
    testing::writePictures(f.pictureDir.path(), {QStringLiteral("a.jpg")});
    Form1 &form = f.start();
    const Controls &c = form.controls();
    QTest::mouseClick(c.VerzeichnisWechseln, Qt::LeftButton);
    auto *model = qobject_cast<QFileSystemModel *>(c.DirTemp->model());
    const QPersistentModelIndex here = c.DirTemp->currentIndex();
    QCOMPARE(model->filePath(here), f.pictureDir.path());
    QTest::keyClick(c.DirTemp, Qt::Key_Right);
    QVERIFY(c.DirTemp->isExpanded(here));
    QTRY_COMPARE(model->rowCount(here), 3);
    QTest::keyClicks(c.DirTemp, QStringLiteral("ga"));
    QCOMPARE(chooser(form).path(), f.pictureDir.path() + QStringLiteral("/Gamma"));
    QTest::mouseClick(c.PfadSpeichern, Qt::LeftButton);
    QCOMPARE(form.model().directory(), f.pictureDir.path() + QStringLiteral("/Gamma/"));
    QCOMPARE(form.model().fileCount(), 1);
}

void DirChooserTest::driveNotReadyLeavesTreeWhereItWas()
{
    testing::FormFixture f;
    testing::writePictures(f.pictureDir.path(), {QStringLiteral("a.jpg")});
    QTemporaryDir card;
    Form1 &form = f.start();
    const Controls &c = form.controls();
    chooser(form).setVolumeSource([&] {
        return QList<dirs::Volume>{{QStringLiteral("/media/nicht-da"), QStringLiteral("vfat"), {}, false},
                                   {card.path(), QStringLiteral("vfat"), {}, true}};
    });
    QTest::mouseClick(c.VerzeichnisWechseln, Qt::LeftButton);
    c.Drive1->setFocus();
    QTest::keyClick(c.Drive1, Qt::Key_Down);
    QCOMPARE(c.Drive1->currentData().toString(), QStringLiteral("/media/nicht-da"));
    QCOMPARE(chooser(form).path(), f.pictureDir.path());
    QTest::keyClick(c.Drive1, Qt::Key_Down);
    QCOMPARE(chooser(form).path(), card.path());
}

void DirChooserTest::vanishedDirectoryGivesHintNotNeighbour()
{
    testing::FormFixture f;
    const QString gone = makeDir(f.pictureDir.path(), QStringLiteral("Karte"), {QStringLiteral("k.jpg")});
    makeDir(f.pictureDir.path(), QStringLiteral("Nachbar"));
    Form1 &form = f.start();
    const Controls &c = form.controls();
    QTest::mouseClick(c.VerzeichnisWechseln, Qt::LeftButton);
    auto *model = qobject_cast<QFileSystemModel *>(c.DirTemp->model());
    QVERIFY(chooser(form).setPath(gone));
    const QModelIndex parent = model->index(f.pictureDir.path());
    QTRY_COMPARE(model->rowCount(parent), 2);

    // The card is pulled while the panel is open; the tree drops the entry.
    QVERIFY(QDir(gone).removeRecursively());
    QTRY_COMPARE(model->rowCount(parent), 1);
    QCOMPARE(chooser(form).path(), gone);
    QVERIFY(!c.DirTemp->currentIndex().isValid());

    QTest::mouseClick(c.PfadSpeichern, Qt::LeftButton);
    QCOMPARE(form.model().directory(), gone + QLatin1Char('/'));
    QCOMPARE(setting(f, QStringLiteral("Verzeichnis")), gone + QLatin1Char('/'));
    QCOMPARE(form.model().fileCount(), 0);
    QVERIFY(!form.model().listError().isEmpty());
    QVERIFY2(c.VerzeichnisText->text().startsWith(gone + QLatin1Char('/')) &&
                 c.VerzeichnisText->text().size() > gone.size() + 1,
             qPrintable(c.VerzeichnisText->text()));
    QVERIFY(c.Text1[0]->isHidden());
}

void DirChooserTest::unreadableDirectoryGivesHint()
{
    testing::FormFixture f;
    const QString locked =
        makeDir(f.pictureDir.path(), QStringLiteral("Gesperrt"), {QStringLiteral("g.jpg")});
    Form1 &form = f.start();
    const Controls &c = form.controls();
    QTest::mouseClick(c.VerzeichnisWechseln, Qt::LeftButton);
    QVERIFY(chooser(form).setPath(locked));
    QFile::setPermissions(locked, QFileDevice::Permissions());
    {
        const testing::WithoutPermissionOverride asUser;
        if (canList(locked)) {
            QFile::setPermissions(locked,
                                  QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
            QSKIP("this process reads directories without read permission (root with its override kept)");
        }
        QTest::mouseClick(c.PfadSpeichern, Qt::LeftButton);
    }
    QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QCOMPARE(form.model().directory(), locked + QLatin1Char('/'));
    QCOMPARE(setting(f, QStringLiteral("Verzeichnis")), locked + QLatin1Char('/'));
    QCOMPARE(form.model().fileCount(), 0);
    QVERIFY(!form.model().listError().isEmpty());
    QVERIFY(c.VerzeichnisText->text().size() > locked.size() + 1);
}

void DirChooserTest::cancelledQuestionKeepsDirectoryAndNames()
{
    testing::FormFixture f;
    testing::writePictures(f.pictureDir.path(), {QStringLiteral("a.jpg")});
    QTemporaryDir other;
    Form1 &form = f.start();
    const Controls &c = form.controls();
    c.Text1[0]->setPlainText(QStringLiteral("getippt"));
    testing::MessageBoxes boxes;
    boxes.answer(platform::AnswerCancel);
    QTest::mouseClick(c.VerzeichnisWechseln, Qt::LeftButton);
    QVERIFY(chooser(form).setPath(other.path()));
    QTest::mouseClick(c.PfadSpeichern, Qt::LeftButton);
    QCOMPARE(boxes.shown().size(), 1);
    QCOMPARE(boxes.shown().first().style, int(platform::YesNoCancelQuestion));
    QCOMPARE(form.model().directory(), f.picturePath());
    QCOMPARE(c.Text1[0]->toPlainText(), QStringLiteral("getippt"));
    QVERIFY(c.VerzeichnisWahl->isVisible());

    boxes.answer(platform::AnswerNo);
    QTest::mouseClick(c.PfadSpeichern, Qt::LeftButton);
    QCOMPARE(boxes.shown().size(), 2);
    QCOMPARE(form.model().directory(), other.path() + QLatin1Char('/'));
}

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    DirChooserTest t;
    return QTest::qExec(&t, argc, argv);
}

#include "dirchooser_test.moc"
