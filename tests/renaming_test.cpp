#include "core/pages/PageModel.h"
#include "core/platform/FileNames.h"
#include "core/platform/Rename.h"
#include "core/renaming/RenamePlan.h"
#include "core/renaming/RenameRun.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

using testing::FormFixture;
using testing::MessageBoxes;

namespace {

QMap<QString, QByteArray> snapshot(const QString &dir)
{
    QMap<QString, QByteArray> s;
    const QDir d(dir);
    for (const QString &name : d.entryList(QDir::Files | QDir::Hidden)) {
        QFile f(d.filePath(name));
        if (f.open(QIODevice::ReadOnly))
            s.insert(name, f.readAll());
    }
    return s;
}

QString pictureName(int i)
{
    return QStringLiteral("Bild_%1.jpg").arg(i, 2, 10, QLatin1Char('0'));
}

const QString Question =
    QStringLiteral("Die Änderungen wurden noch nicht gespeichert.\n\nwillst du die Namen jetzt speichern?");

} // namespace

class RenamingTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void leavingChangedPageAsksFirst_data();
    void leavingChangedPageAsksFirst();
    void unchangedPageMovesWithoutQuestion();
    void startNumberFollowsPagesAndKeepsWidth();
    void resetThrowsTypedNamesAway();
    void guardAnswersForOtherParts();
    void closingWithTypedNamesAsksFirst_data();
    void closingWithTypedNamesAsksFirst();
    void swapOfTwoNamesRenamesBoth();
    void nameOfPictureOnOtherPageIsRefused();
    void duplicateNamesAreRefusedWithList();
    void failedRenameKeepsOldNamesAndSaysWhy();
    void savedPageClearsTypedNamesOfItsPictures();
    void interruptedRenamingIsUndoneAtStart();
    void prefixKeepsUndecodableBytesOfName();

private:
    Form1 &start();
    Controls &c() { return m_fx->form->controls(); }
    PageModel &s() { return m_fx->form->model(); }
    QString dir() const { return m_fx->picturePath(); }

    std::unique_ptr<FormFixture> m_fx;
    std::unique_ptr<MessageBoxes> m_boxes;
    std::unique_ptr<QTemporaryDir> m_journals;
};

void RenamingTest::init()
{
    m_journals = std::make_unique<QTemporaryDir>();
    renaming::setJournalDirectory(m_journals->path());
    m_boxes = std::make_unique<MessageBoxes>();
    m_fx = std::make_unique<FormFixture>();
    m_fx->writeSettings(QStringLiteral("[Einstellungen]\nBilderAnzeigen=0\n"));
    QStringList names;
    for (int i = 1; i <= 60; ++i)
        names << pictureName(i);
    testing::writePictures(m_fx->pictureDir.path(), names, QSize(16, 12));
}

void RenamingTest::cleanup()
{
    m_fx.reset();
    m_boxes.reset();
    platform::setRenameHandler({});
    renaming::setJournalDirectory(QString());
    m_journals.reset();
}

Form1 &RenamingTest::start()
{
    Form1 &f = m_fx->start();
    m_boxes->clear();
    return f;
}

void RenamingTest::leavingChangedPageAsksFirst_data()
{
    QTest::addColumn<bool>("forward");
    QTest::addColumn<int>("answer");
    QTest::addColumn<int>("pageAfter");
    QTest::addColumn<bool>("renamed");
    QTest::newRow("next, yes saves and stays") << true << int(platform::AnswerYes) << 1 << true;
    QTest::newRow("next, no moves without saving") << true << int(platform::AnswerNo) << 2 << false;
    QTest::newRow("next, cancel changes nothing") << true << int(platform::AnswerCancel) << 1 << false;
    QTest::newRow("back, yes saves and stays") << false << int(platform::AnswerYes) << 1 << true;
    QTest::newRow("back, no moves without saving") << false << int(platform::AnswerNo) << 0 << false;
    QTest::newRow("back, cancel changes nothing") << false << int(platform::AnswerCancel) << 1 << false;
}

void RenamingTest::leavingChangedPageAsksFirst()
{
    QFETCH(bool, forward);
    QFETCH(int, answer);
    QFETCH(int, pageAfter);
    QFETCH(bool, renamed);
    start();
    // Start on the middle page, so both arrows can leave it.
    QTest::mouseClick(c().NextBtn, Qt::LeftButton);
    QCOMPARE(s().pageIndex(), 1);
    QVERIFY(m_boxes->shown().isEmpty());
    const QString number = c().NummerTxt->text();
    const QString first = pictureName(s().lastSlot() + 2);
    QCOMPARE(c().Text1[0]->toPlainText(), first.left(first.size() - 4));
    c().Text1[0]->setPlainText(QStringLiteral("Neuer Name"));

    m_boxes->answer(answer);
    QTest::mouseClick(forward ? c().NextBtn : c().ZurueckBtn, Qt::LeftButton);

    QVERIFY(!m_boxes->shown().isEmpty());
    const platform::MessageRequest q = m_boxes->shown().first();
    QCOMPARE(q.prompt, Question);
    QCOMPARE(q.title, QStringLiteral("Änderungen speichern?"));
    QCOMPARE(q.style, int(platform::YesNoCancelQuestion));
    QCOMPARE(s().pageIndex(), pageAfter);
    QCOMPARE(QFile::exists(dir() + QStringLiteral("Neuer Name.jpg")), renamed);
    QCOMPARE(QFile::exists(dir() + first), !renamed);
    if (answer == platform::AnswerYes) {
        QCOMPARE(m_boxes->shown().size(), 2);
        QCOMPARE(m_boxes->shown().at(1).prompt, QStringLiteral("Alle Dateien sind umbenannt"));
        QCOMPARE(c().Text1[0]->toPlainText(), QStringLiteral("Neuer Name"));
        QCOMPARE(c().NummerTxt->text(), number);
    } else if (answer == platform::AnswerCancel) {
        QCOMPARE(m_boxes->shown().size(), 1);
        QCOMPARE(c().Text1[0]->toPlainText(), QStringLiteral("Neuer Name"));
        QCOMPARE(c().NummerTxt->text(), number);
    } else {
        QCOMPARE(m_boxes->shown().size(), 1);
        QVERIFY(c().NummerTxt->text() != number);
    }
}

void RenamingTest::unchangedPageMovesWithoutQuestion()
{
    start();
    const int perPage = s().lastSlot() + 1;
    QVERIFY(60 > 2 * perPage && 60 <= 3 * perPage);
    QTest::mouseClick(c().NextBtn, Qt::LeftButton);
    QCOMPARE(s().pageIndex(), 1);
    QVERIFY(c().NextBtn->isEnabled());
    QCOMPARE(m_fx->form->focusWidget(), c().Command1);
    // Next from the page before the last disables the arrow.
    QTest::mouseClick(c().NextBtn, Qt::LeftButton);
    QCOMPARE(s().pageIndex(), 2);
    QVERIFY(!c().NextBtn->isEnabled());
    QCOMPARE(c().Text1[0]->toPlainText(), pictureName(2 * perPage + 1).left(7));
    QVERIFY(m_boxes->shown().isEmpty());
}

void RenamingTest::startNumberFollowsPagesAndKeepsWidth()
{
    start();
    const int perPage = s().lastSlot() + 1;
    c().NummerTxt->setText(QStringLiteral("007"));
    QTest::mouseClick(c().NextBtn, Qt::LeftButton);
    QCOMPARE(c().NummerTxt->text(), QStringLiteral("%1").arg(7 + perPage, 3, 10, QLatin1Char('0')));
    QTest::mouseClick(c().ZurueckBtn, Qt::LeftButton);
    QCOMPARE(c().NummerTxt->text(), QStringLiteral("007"));
    QCOMPARE(s().pageIndex(), 0);
}

void RenamingTest::resetThrowsTypedNamesAway()
{
    start();
    c().NummerTxt->setText(QStringLiteral("05"));
    c().Text1[1]->setPlainText(QStringLiteral("getippt"));
    QTest::mouseClick(c().ReloadBUtton, Qt::LeftButton);
    QCOMPARE(c().Text1[1]->toPlainText(), QStringLiteral("Bild_02"));
    QCOMPARE(c().NummerTxt->text(), QStringLiteral("05"));
    QCOMPARE(s().pageIndex(), 0);
    QVERIFY(m_boxes->shown().isEmpty());
    QVERIFY(QFile::exists(dir() + pictureName(2)));
}

void RenamingTest::guardAnswersForOtherParts()
{
    Form1 &f = start();
    QCOMPARE(f.unsavedNames().ask(), UnsavedNames::Answer::NothingPending);
    QVERIFY(m_boxes->shown().isEmpty());

    c().Text1[0]->setPlainText(QStringLiteral("a/b"));
    m_boxes->answer(platform::AnswerYes);
    QCOMPARE(f.unsavedNames().ask(), UnsavedNames::Answer::Cancelled); // the save was refused
    m_boxes->answer(platform::AnswerNo);
    QCOMPARE(f.unsavedNames().ask(), UnsavedNames::Answer::Discard);
    m_boxes->answer(platform::AnswerCancel);
    QCOMPARE(f.unsavedNames().ask(), UnsavedNames::Answer::Cancelled);
    c().Text1[0]->setPlainText(QStringLiteral("Gut"));
    m_boxes->answer(platform::AnswerYes);
    QCOMPARE(f.unsavedNames().ask(), UnsavedNames::Answer::Saved);
    QVERIFY(QFile::exists(dir() + QStringLiteral("Gut.jpg")));

    // A name typed for a picture that a relayout moved off the page counts too,
    // and Yes saves it with the page: leaving would drop it.
    const int last = s().lastSlot();
    s().relayout(52);
    s().setName(39, QStringLiteral("Weit weg"));
    s().relayout(last);
    m_boxes->answer(platform::AnswerYes);
    QCOMPARE(f.unsavedNames().ask(), UnsavedNames::Answer::Saved);
    QVERIFY(QFile::exists(dir() + QStringLiteral("Weit weg.jpg")));
    QCOMPARE(s().fileNames().at(39), QStringLiteral("Weit weg.jpg"));
    // The button itself saves the page only and says what waits elsewhere.
    s().relayout(52);
    s().setName(40, QStringLiteral("Noch weiter"));
    s().relayout(last);
    c().Text1[0]->setPlainText(QStringLiteral("Hier"));
    QTest::mouseClick(c().Speichern, Qt::LeftButton);
    QVERIFY(QFile::exists(dir() + QStringLiteral("Hier.jpg")));
    QVERIFY(!QFile::exists(dir() + QStringLiteral("Noch weiter.jpg")));
    QVERIFY(m_boxes->shown().last().prompt.contains(
        QStringLiteral("1 weiterer geänderter Name ist noch nicht gespeichert")));
    s().relayout(52);
    s().setName(40, PageModel::shownName(s().fileName(40)));
    s().relayout(last);
    QCOMPARE(f.unsavedNames().ask(), UnsavedNames::Answer::NothingPending);
}

void RenamingTest::closingWithTypedNamesAsksFirst_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("closed");
    QTest::addColumn<bool>("renamed");
    QTest::newRow("yes saves, then closes") << "Gut" << int(platform::AnswerYes) << true << true;
    QTest::newRow("yes with a refused save stays") << "a/b" << int(platform::AnswerYes) << false << false;
    QTest::newRow("no closes without saving") << "Gut" << int(platform::AnswerNo) << true << false;
    QTest::newRow("cancel keeps the window") << "Gut" << int(platform::AnswerCancel) << false << false;
}

void RenamingTest::closingWithTypedNamesAsksFirst()
{
    QFETCH(QString, typed);
    QFETCH(int, answer);
    Form1 &f = start();
    const QString first = s().fileName(0);
    c().Text1[0]->setPlainText(typed);
    m_boxes->answer(answer);
    QTEST(f.close(), "closed");
    QVERIFY2(!m_boxes->shown().isEmpty(), "closing did not ask");
    QCOMPARE(m_boxes->shown().first().style, int(platform::YesNoCancelQuestion));
    QTEST(QFile::exists(dir() + QStringLiteral("Gut.jpg")), "renamed");
    QCOMPARE(QFile::exists(dir() + first), !QFile::exists(dir() + QStringLiteral("Gut.jpg")));
}

void RenamingTest::swapOfTwoNamesRenamesBoth()
{
    start();
    const auto before = snapshot(dir());
    c().Text1[0]->setPlainText(QStringLiteral("Bild_02"));
    c().Text1[1]->setPlainText(QStringLiteral("Bild_01"));
    QTest::mouseClick(c().Speichern, Qt::LeftButton);

    QCOMPARE(m_boxes->shown().size(), 1);
    QCOMPARE(m_boxes->shown().first().prompt, QStringLiteral("Alle Dateien sind umbenannt"));
    QCOMPARE(m_boxes->shown().first().title, QStringLiteral("Benennung erfolgreich!"));
    QCOMPARE(m_boxes->shown().first().style, int(platform::OkInformation));
    const auto after = snapshot(dir());
    QCOMPARE(after.value(pictureName(1)), before.value(pictureName(2)));
    QCOMPARE(after.value(pictureName(2)), before.value(pictureName(1)));
    QCOMPARE(after.size(), before.size());
    // The page shows what the disk holds, and there is nothing left to save.
    QCOMPARE(c().Text1[0]->toPlainText(), QStringLiteral("Bild_02"));
    QCOMPARE(s().filePath(0), dir() + pictureName(2));
    m_boxes->clear();
    QTest::mouseClick(c().NextBtn, Qt::LeftButton);
    QVERIFY(m_boxes->shown().isEmpty());
    QCOMPARE(s().pageIndex(), 1);
}

void RenamingTest::nameOfPictureOnOtherPageIsRefused()
{
    start();
    const auto before = snapshot(dir());
    const QString other = pictureName(s().lastSlot() + 5); // on the next page
    c().Text1[0]->setPlainText(QStringLiteral("Ganz neu"));
    c().Text1[2]->setPlainText(other.left(other.size() - 4));
    QTest::mouseClick(c().Speichern, Qt::LeftButton);

    QCOMPARE(m_boxes->shown().size(), 1);
    const platform::MessageRequest m = m_boxes->shown().first();
    QCOMPARE(m.title, QStringLiteral("Abgebrochen!"));
    QCOMPARE(m.style, int(platform::OkCritical));
    QVERIFY2(m.prompt.contains(QStringLiteral("Bild 3 (Bild_03.jpg)")) && m.prompt.contains(other) &&
                 !m.prompt.contains(QStringLiteral("Bild 1 ")),
             qPrintable(m.prompt));
    QCOMPARE(snapshot(dir()), before);
    QCOMPARE(c().Text1[0]->toPlainText(), QStringLiteral("Ganz neu"));
    QCOMPARE(s().fileNames().at(0), pictureName(1));
}

void RenamingTest::duplicateNamesAreRefusedWithList()
{
    start();
    const auto before = snapshot(dir());
    for (int i : {0, 3, 4})
        c().Text1[i]->setPlainText(QStringLiteral("Gleich"));
    QTest::mouseClick(c().Speichern, Qt::LeftButton);
    QCOMPARE(m_boxes->shown().size(), 1);
    QCOMPARE(m_boxes->shown().first().prompt,
             QStringLiteral("Folgende Dateinamen sind doppelt: \n\nGleich\nGleich\n"));
    QCOMPARE(m_boxes->shown().first().title, QStringLiteral("Abgebrochen!"));
    QCOMPARE(m_boxes->shown().first().style, int(platform::OkCritical));
    QCOMPARE(snapshot(dir()), before);
}

void RenamingTest::failedRenameKeepsOldNamesAndSaysWhy()
{
    start();
    const auto before = snapshot(dir());
    c().Text1[0]->setPlainText(QStringLiteral("Bild_02"));
    c().Text1[1]->setPlainText(QStringLiteral("Bild_01"));
    c().Text1[5]->setPlainText(QStringLiteral("Sechs"));
    int calls = 0;
    platform::setRenameHandler([&calls](const QString &from, const QString &to) {
        if (++calls == 3) {
            platform::RenameResult r;
            r.status = platform::RenameStatus::Failed;
            r.reason = QStringLiteral("Das Medium ist schreibgeschützt");
            return r;
        }
        return platform::systemRenameNoReplace(from, to);
    });
    QTest::mouseClick(c().Speichern, Qt::LeftButton);

    QCOMPARE(m_boxes->shown().size(), 1);
    const platform::MessageRequest m = m_boxes->shown().first();
    QCOMPARE(m.title, QStringLiteral("Abgebrochen!"));
    QVERIFY2(m.prompt.contains(QStringLiteral("Das Medium ist schreibgeschützt")) &&
                 m.prompt.contains(QStringLiteral("alten Namen")),
             qPrintable(m.prompt));
    QCOMPARE(snapshot(dir()), before);
    QCOMPARE(s().fileNames().at(0), pictureName(1));
    QCOMPARE(s().fileNames().at(5), pictureName(6));
    QCOMPARE(c().Text1[5]->toPlainText(), QStringLiteral("Sechs"));
}

void RenamingTest::savedPageClearsTypedNamesOfItsPictures()
{
    start();
    c().Text1[0]->setPlainText(QStringLiteral("Eins"));
    c().Text1[1]->setPlainText(QStringLiteral("Zwei"));
    QTest::mouseClick(c().Speichern, Qt::LeftButton);
    QVERIFY(!s().isModified());
    QCOMPARE(s().fileNames().at(0), QStringLiteral("Eins.jpg"));
    QCOMPARE(c().Text1[1]->toPlainText(), QStringLiteral("Zwei"));
}

void RenamingTest::interruptedRenamingIsUndoneAtStart()
{
    // A renaming of a swap was killed after parking the first file and moving the
    // second: the journal is left, and no program holds its lock.
    const QString d = dir();
    const auto before = snapshot(d);
    const QString a = d + pictureName(1), b = d + pictureName(2),
                  temp = d + QStringLiteral(".namora-1-0000abcd-0.tmp");
    QJsonArray moves;
    for (const auto &[from, to] : {std::pair{a, b}, std::pair{b, a}}) {
        const platform::FileId id = *platform::fileId(from);
        QJsonObject m;
        m[QStringLiteral("from")] = from;
        m[QStringLiteral("to")] = to;
        m[QStringLiteral("temps")] = from == a ? QJsonArray{temp} : QJsonArray{};
        m[QStringLiteral("device")] = QString::number(id.device);
        m[QStringLiteral("inode")] = QString::number(id.inode);
        moves.append(m);
    }
    QFile journal(QDir(m_journals->path()).filePath(QStringLiteral("rename-4242-1-1.json")));
    QVERIFY(journal.open(QIODevice::WriteOnly));
    journal.write(QJsonDocument(QJsonObject{{QStringLiteral("version"), 1}, {QStringLiteral("moves"), moves}})
                      .toJson());
    journal.close();
    QVERIFY(platform::systemRenameNoReplace(a, temp).ok());
    QVERIFY(platform::systemRenameNoReplace(b, a).ok());

    m_fx->start();
    QCOMPARE(m_boxes->shown().size(), 1);
    const platform::MessageRequest m = m_boxes->shown().first();
    QCOMPARE(m.style, int(platform::OkInformation));
    QVERIFY2(m.prompt.contains(QStringLiteral("rückgängig")) && m.prompt.contains(d), qPrintable(m.prompt));
    QCOMPARE(snapshot(d), before);
    QVERIFY(!journal.exists());
    QCOMPARE(s().fileNames().at(0), pictureName(1));
    QCOMPARE(s().fileCount(), 60);
}

void RenamingTest::prefixKeepsUndecodableBytesOfName()
{
    // A picture copied from a Latin-1 system: its name holds the byte 0xE4 ("ä"
    // there), which is not UTF-8. It sorts first on the page.
    const QByteArray raw = QFile::encodeName(dir());
    testing::writePictures(dir(), {QStringLiteral("latin1.jpg")}, QSize(16, 12));
    QCOMPARE(std::rename((raw + "latin1.jpg").constData(), (raw + "Bild_00 \xe4pfel.jpg").constData()), 0);
    const auto before = snapshot(dir());
    start();
    QCOMPARE(c().Text1[0]->toPlainText(), platform::decodeName("Bild_00 \xe4pfel"));

    c().JahrText->setText(QStringLiteral("2024-07 "));
    QTest::mouseClick(c().Command1, Qt::LeftButton);
    QCOMPARE(c().Text1[0]->toPlainText(), platform::decodeName("2024-07 Bild_00 \xe4pfel"));
    QTest::mouseClick(c().Speichern, Qt::LeftButton);

    QCOMPARE(m_boxes->shown().size(), 1);
    QCOMPARE(m_boxes->shown().first().prompt, QStringLiteral("Alle Dateien sind umbenannt"));
    // Exactly the prefix's bytes in front of the file's own bytes.
    const int fd = ::open((raw + "2024-07 Bild_00 \xe4pfel.jpg").constData(), O_RDONLY);
    QVERIFY(fd >= 0);
    ::close(fd);
    QCOMPARE(::access((raw + "Bild_00 \xe4pfel.jpg").constData(), F_OK), -1);
    QCOMPARE(snapshot(dir()).value(QStringLiteral("2024-07 Bild_02.jpg")), before.value(pictureName(2)));
    QCOMPARE(c().Text1[0]->toPlainText(), platform::decodeName("2024-07 Bild_00 \xe4pfel"));
    QCOMPARE(s().filePath(0), dir() + platform::decodeName("2024-07 Bild_00 \xe4pfel.jpg"));
}

QTEST_MAIN(RenamingTest)
#include "renaming_test.moc"
