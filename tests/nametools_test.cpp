#include "core/renaming/NameTools.h"

#include <QtTest>

using names::Selection;

Q_DECLARE_METATYPE(Selection)

namespace {
const QList<bool> AllFilled = {true, true, true};
} // namespace

class NameToolsTest : public QObject {
    Q_OBJECT
private slots:
    void numberReadingIsPlainDecimalAndLocaleFree_data();
    void numberReadingIsPlainDecimalAndLocaleFree();
    void numberReadingIgnoresTheSystemLocale();
    void startNumberIsNormalisedToItsWidth_data();
    void startNumberIsNormalisedToItsWidth();
    void numbersAreAppendedFromTheStartText_data();
    void numbersAreAppendedFromTheStartText();
    void pageMovesShiftTheStartNumber_data();
    void pageMovesShiftTheStartNumber();
    void startNumberFollowsNextAndBackRoundTrip_data();
    void startNumberFollowsNextAndBackRoundTrip();
    void prefixAndSuffixGoOnlyToFilledSlots_data();
    void prefixAndSuffixGoOnlyToFilledSlots();
    void replaceIgnoresCaseWithoutShiftingPositions_data();
    void replaceIgnoresCaseWithoutShiftingPositions();
    void replaceEndsWhenTheReplacementHoldsTheSearch();
    void nameSelectionFollowsThePrefix_data();
    void nameSelectionFollowsThePrefix();
    void prefixBoxSelectsFromTheThirdCharacter_data();
    void prefixBoxSelectsFromTheThirdCharacter();
    void xButtonTogglesBetweenEmptyAndFileName_data();
    void xButtonTogglesBetweenEmptyAndFileName();
};

void NameToolsTest::numberReadingIsPlainDecimalAndLocaleFree_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("readable");
    QTest::addColumn<int>("value");
    QTest::newRow("digits") << QStringLiteral("12") << true << 12;
    QTest::newRow("leading zeros") << QStringLiteral("007") << true << 7;
    QTest::newRow("minus sign") << QStringLiteral("-5") << true << -5;
    QTest::newRow("plus sign") << QStringLiteral("+5") << true << 5;
    QTest::newRow("surrounding blanks") << QStringLiteral("  42 \t") << true << 42;
    QTest::newRow("16-bit top") << QStringLiteral("32767") << true << 32767;
    QTest::newRow("16-bit bottom") << QStringLiteral("-32768") << true << -32768;
    QTest::newRow("one above the range") << QStringLiteral("32768") << false << 0;
    QTest::newRow("one below the range") << QStringLiteral("-32769") << false << 0;
    QTest::newRow("far beyond 64 bits") << QStringLiteral("99999999999999999999999") << false << 0;
    QTest::newRow("half rounds down to even") << QStringLiteral("2.5") << true << 2;
    QTest::newRow("half rounds up to even") << QStringLiteral("3.5") << true << 4;
    QTest::newRow("comma as decimal separator") << QStringLiteral("3,5") << true << 4;
    QTest::newRow("negative half to even") << QStringLiteral("-2.5") << true << -2;
    QTest::newRow("rounding into range") << QStringLiteral("32767.4") << true << 32767;
    QTest::newRow("rounding out of range") << QStringLiteral("32767.5") << false << 0;
    QTest::newRow("empty") << QString() << false << 0;
    QTest::newRow("blanks only") << QStringLiteral("   ") << false << 0;
    QTest::newRow("sign only") << QStringLiteral("-") << false << 0;
    QTest::newRow("letters") << QStringLiteral("abc") << false << 0;
    QTest::newRow("digits then letters") << QStringLiteral("12a") << false << 0;
    QTest::newRow("blank inside") << QStringLiteral("1 2") << false << 0;
    QTest::newRow("two separators") << QStringLiteral("1.000.000") << false << 0;
    QTest::newRow("exponent") << QStringLiteral("1e3") << false << 0;
    QTest::newRow("hexadecimal") << QStringLiteral("0x10") << false << 0;
    QTest::newRow("two signs") << QStringLiteral("--5") << false << 0;
    QTest::newRow("sign after digits") << QStringLiteral("5-") << false << 0;
    QTest::newRow("non-ASCII digits") << QStringLiteral("\u0661\u0662") << false << 0;
}

void NameToolsTest::numberReadingIsPlainDecimalAndLocaleFree()
{
    QFETCH(QString, text);
    QFETCH(bool, readable);
    const std::optional<int> n = names::readInt16(text);
    QCOMPARE(n.has_value(), readable);
    if (readable)
        QTEST(*n, "value");
    QCOMPARE(names::startNumberOf(text), readable ? *n : 1);
}

void NameToolsTest::numberReadingIgnoresTheSystemLocale()
{
    const QLocale saved;
    for (const char *name : {"de_DE", "en_US"}) {
        QLocale::setDefault(QLocale(QString::fromLatin1(name)));
        QCOMPARE(names::normaliseStartNumber(QStringLiteral("-05")), QStringLiteral("0-5"));
        QCOMPARE(names::normaliseStartNumber(QStringLiteral("99999")), QStringLiteral("00001"));
        QCOMPARE(names::readInt16(QStringLiteral("1.5")), std::optional<int>(2));
        QCOMPARE(names::readInt16(QStringLiteral("1,5")), std::optional<int>(2));
        QCOMPARE(names::nextPageStartNumber(QStringLiteral("007"), 52).text, QStringLiteral("060"));
    }
    QLocale::setDefault(saved);
}

void NameToolsTest::startNumberIsNormalisedToItsWidth_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("normalised");
    QTest::newRow("007 stays") << QStringLiteral("007") << QStringLiteral("007");
    QTest::newRow("7 stays") << QStringLiteral("7") << QStringLiteral("7");
    QTest::newRow("12 stays") << QStringLiteral("12") << QStringLiteral("12");
    QTest::newRow("letters give 1 at their width") << QStringLiteral("abc") << QStringLiteral("001");
    QTest::newRow("empty gives 1") << QString() << QStringLiteral("1");
    QTest::newRow("out of range gives 1") << QStringLiteral("99999") << QStringLiteral("00001");
    QTest::newRow("zeros go before the sign") << QStringLiteral("-05") << QStringLiteral("0-5");
    QTest::newRow("blanks count for the width") << QStringLiteral(" 7 ") << QStringLiteral("007");
    QTest::newRow("plus sign dropped") << QStringLiteral("+3") << QStringLiteral("03");
    QTest::newRow("16-bit bottom") << QStringLiteral("-32768") << QStringLiteral("-32768");
}

void NameToolsTest::startNumberIsNormalisedToItsWidth()
{
    QFETCH(QString, typed);
    QTEST(names::normaliseStartNumber(typed), "normalised");
}

void NameToolsTest::numbersAreAppendedFromTheStartText_data()
{
    QTest::addColumn<QString>("start");
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<QStringList>("after");
    const QStringList three = {QStringLiteral("Urlaub_"), QStringLiteral("Urlaub_"),
                               QStringLiteral("Urlaub_")};
    QTest::newRow("01 pads to two digits")
        << QStringLiteral("01") << three
        << QStringList{QStringLiteral("Urlaub_01"), QStringLiteral("Urlaub_02"), QStringLiteral("Urlaub_03")};
    QStringList twelve(12), oneToTwelve;
    for (int i = 1; i <= 12; ++i)
        oneToTwelve << QString::number(i);
    QTest::newRow("numbers longer than the width are not cut")
        << QStringLiteral("1") << twelve << oneToTwelve;
    QTest::newRow("start 0") << QStringLiteral("0") << QStringList(3)
                             << QStringList{QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("2")};
    QTest::newRow("negative start keeps the width")
        << QStringLiteral("-5") << QStringList(7)
        << QStringList{QStringLiteral("-5"), QStringLiteral("-4"), QStringLiteral("-3"), QStringLiteral("-2"),
                       QStringLiteral("-1"), QStringLiteral("00"), QStringLiteral("01")};
    QTest::newRow("unreadable start counts from 1")
        << QStringLiteral("ab") << QStringList(2) << QStringList{QStringLiteral("01"), QStringLiteral("02")};
    QTest::newRow("numbers continue beyond 16 bits")
        << QStringLiteral("32767") << QStringList(2)
        << QStringList{QStringLiteral("32767"), QStringLiteral("32768")};
    QTest::newRow("second click appends again")
        << QStringLiteral("1") << QStringList{QStringLiteral("a1"), QStringLiteral("b2")}
        << QStringList{QStringLiteral("a11"), QStringLiteral("b22")};
}

void NameToolsTest::numbersAreAppendedFromTheStartText()
{
    QFETCH(QString, start);
    QFETCH(QStringList, before);
    QTEST(names::numberNames(before, start), "after");
}

void NameToolsTest::pageMovesShiftTheStartNumber_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("lastSlot");
    QTest::addColumn<bool>("forward");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("result");
    QTest::newRow("007 forward keeps three digits")
        << QStringLiteral("007") << 52 << true << true << QStringLiteral("060");
    QTest::newRow("060 back") << QStringLiteral("060") << 52 << false << true << QStringLiteral("007");
    QTest::newRow("7 forward grows") << QStringLiteral("7") << 52 << true << true << QStringLiteral("60");
    QTest::newRow("99 forward") << QStringLiteral("99") << 52 << true << true << QStringLiteral("152");
    QTest::newRow("152 back pads to three")
        << QStringLiteral("152") << 52 << false << true << QStringLiteral("099");
    QTest::newRow("negative result: zeros before the sign")
        << QStringLiteral("001") << 52 << false << true << QStringLiteral("-52");
    QTest::newRow("negative result padded")
        << QStringLiteral("00001") << 4 << false << true << QStringLiteral("000-4");
    QTest::newRow("forward past the top fails")
        << QStringLiteral("32767") << 0 << true << false << QStringLiteral("32767");
    QTest::newRow("back past the bottom fails")
        << QStringLiteral("-32768") << 0 << false << false << QStringLiteral("-32768");
    QTest::newRow("forward from below the range into it")
        << QStringLiteral("-32769") << 0 << true << true << QStringLiteral("-32768");
    QTest::newRow("back from beyond the range fails")
        << QStringLiteral("32768") << 0 << false << false << QStringLiteral("32768");
    QTest::newRow("letters forward fail")
        << QStringLiteral("abc") << 52 << true << false << QStringLiteral("abc");
    QTest::newRow("letters back fail")
        << QStringLiteral("abc") << 52 << false << false << QStringLiteral("abc");
    QTest::newRow("empty forward fails") << QString() << 52 << true << false << QString();
    QTest::newRow("forward rounds after adding")
        << QStringLiteral("0.5") << 0 << true << true << QStringLiteral("002");
    QTest::newRow("back rounds before subtracting")
        << QStringLiteral("2.5") << 0 << false << true << QStringLiteral("001");
    QTest::newRow("no slot fits: forward by nothing")
        << QStringLiteral("05") << -1 << true << true << QStringLiteral("05");
    QTest::newRow("blanks are read, width kept")
        << QStringLiteral(" 7") << 52 << true << true << QStringLiteral("60");
}

void NameToolsTest::pageMovesShiftTheStartNumber()
{
    QFETCH(QString, text);
    QFETCH(int, lastSlot);
    QFETCH(bool, forward);
    const names::StartNumberStep step =
        forward ? names::nextPageStartNumber(text, lastSlot) : names::previousPageStartNumber(text, lastSlot);
    QTEST(step.ok, "ok");
    QTEST(step.text, "result");
}

void NameToolsTest::startNumberFollowsNextAndBackRoundTrip_data()
{
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("afterNext");
    QTest::addColumn<QString>("afterBack");
    QTest::newRow("007") << QStringLiteral("007") << QStringLiteral("060") << QStringLiteral("007");
    QTest::newRow("99") << QStringLiteral("99") << QStringLiteral("152") << QStringLiteral("099");
    QTest::newRow("7") << QStringLiteral("7") << QStringLiteral("60") << QStringLiteral("07");
}

void NameToolsTest::startNumberFollowsNextAndBackRoundTrip()
{
    QFETCH(QString, start);
    const QString next = names::nextPageStartNumber(start, 52).text;
    QTEST(next, "afterNext");
    QTEST(names::previousPageStartNumber(next, 52).text, "afterBack");
}

void NameToolsTest::prefixAndSuffixGoOnlyToFilledSlots_data()
{
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<QList<bool>>("filled");
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<QStringList>("after");
    const QStringList names = {QStringLiteral("Urlaub"), QStringLiteral("IMG_0815")};
    QTest::newRow("prefix both") << names << QList<bool>{true, true} << QStringLiteral("1990.01.31_")
                                 << QString()
                                 << QStringList{QStringLiteral("1990.01.31_Urlaub"),
                                                QStringLiteral("1990.01.31_IMG_0815")};
    QTest::newRow("prefix twice adds it again")
        << QStringList{QStringLiteral("1990.01.31_Urlaub")} << QList<bool>{true}
        << QStringLiteral("1990.01.31_") << QString()
        << QStringList{QStringLiteral("1990.01.31_1990.01.31_Urlaub")};
    QTest::newRow("suffix both") << names << QList<bool>{true, true} << QString() << QStringLiteral("_Rom")
                                 << QStringList{QStringLiteral("Urlaub_Rom"), QStringLiteral("IMG_0815_Rom")};
    QTest::newRow("suffix twice") << QStringList{QStringLiteral("Urlaub_Rom")} << QList<bool>{true}
                                  << QString() << QStringLiteral("_Rom")
                                  << QStringList{QStringLiteral("Urlaub_Rom_Rom")};
    QTest::newRow("empty slots untouched")
        << QStringList{QStringLiteral("a"), QString(), QString()} << QList<bool>{true, false}
        << QStringLiteral("p") << QStringLiteral("s")
        << QStringList{QStringLiteral("pas"), QString(), QString()};
    QTest::newRow("emptied name of a picture gets the prefix alone")
        << QStringList{QString()} << QList<bool>{true} << QStringLiteral("2004_") << QString()
        << QStringList{QStringLiteral("2004_")};
}

void NameToolsTest::prefixAndSuffixGoOnlyToFilledSlots()
{
    QFETCH(QStringList, before);
    QFETCH(QList<bool>, filled);
    QFETCH(QString, prefix);
    QFETCH(QString, suffix);
    QTEST(names::suffixNames(names::prefixNames(before, filled, prefix), filled, suffix), "after");
}

void NameToolsTest::replaceIgnoresCaseWithoutShiftingPositions_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("search");
    QTest::addColumn<QString>("replacement");
    QTest::addColumn<QString>("result");
    QTest::newRow("lower finds upper") << QStringLiteral("IMG_0815") << QStringLiteral("img_")
                                       << QStringLiteral("Urlaub_") << QStringLiteral("Urlaub_0815");
    QTest::newRow("lower finds lower") << QStringLiteral("img_0816") << QStringLiteral("img_")
                                       << QStringLiteral("Urlaub_") << QStringLiteral("Urlaub_0816");
    QTest::newRow("every occurrence") << QStringLiteral("IMG_1 img_2") << QStringLiteral("IMG")
                                      << QStringLiteral("X") << QStringLiteral("X_1 X_2");
    QTest::newRow("neighbours each replaced")
        << QStringLiteral("aaa") << QStringLiteral("a") << QStringLiteral("b") << QStringLiteral("bbb");
    QTest::newRow("empty replacement deletes")
        << QStringLiteral("aab") << QStringLiteral("a") << QString() << QStringLiteral("b");
    QTest::newRow("inserted text not searched again")
        << QStringLiteral("aba") << QStringLiteral("a") << QStringLiteral("aa") << QStringLiteral("aabaa");
    QTest::newRow("underscore to blank") << QStringLiteral("Urlaub_Rom_01") << QStringLiteral("_")
                                         << QStringLiteral(" ") << QStringLiteral("Urlaub Rom 01");
    QTest::newRow("no overlaps") << QStringLiteral("aaaa") << QStringLiteral("aa") << QStringLiteral("b")
                                 << QStringLiteral("bb");
    QTest::newRow("empty search unchanged")
        << QStringLiteral("abc") << QString() << QStringLiteral("x") << QStringLiteral("abc");
    QTest::newRow("not found unchanged")
        << QStringLiteral("abc") << QStringLiteral("z") << QStringLiteral("x") << QStringLiteral("abc");
    QTest::newRow("empty text") << QString() << QStringLiteral("a") << QStringLiteral("x") << QString();
    QTest::newRow("rest keeps its case")
        << QStringLiteral("AbCabc") << QStringLiteral("B") << QStringLiteral("_") << QStringLiteral("A_Ca_c");
    QTest::newRow("umlaut folds") << QStringLiteral("Ärger ärger") << QStringLiteral("ä")
                                  << QStringLiteral("Ae") << QStringLiteral("Aerger Aerger");
    // A full upper-casing would make ß two letters and shift every later
    // position; the replacement must still land on the right characters.
    QTest::newRow("sharp s keeps positions") << QStringLiteral("Straße_img") << QStringLiteral("IMG")
                                             << QStringLiteral("x") << QStringLiteral("Straße_x");
    QTest::newRow("sharp s found as itself")
        << QStringLiteral("Maß") << QStringLiteral("ß") << QStringLiteral("ss") << QStringLiteral("Mass");
    QTest::newRow("whole text") << QStringLiteral("IMG") << QStringLiteral("img") << QStringLiteral("")
                                << QString();
    QTest::newRow("search longer than text")
        << QStringLiteral("ab") << QStringLiteral("abc") << QStringLiteral("x") << QStringLiteral("ab");
    QTest::newRow("surrogate pairs pass through") << QStringLiteral("a\U0001F600a") << QStringLiteral("A")
                                                  << QStringLiteral("b") << QStringLiteral("b\U0001F600b");
}

void NameToolsTest::replaceIgnoresCaseWithoutShiftingPositions()
{
    QFETCH(QString, text);
    QFETCH(QString, search);
    QFETCH(QString, replacement);
    QTEST(names::ReplaceNoCase(text, search, replacement), "result");
}

void NameToolsTest::replaceEndsWhenTheReplacementHoldsTheSearch()
{
    // A replacement that contains the search text must not be searched again,
    // or the work never ends.
    const QString text(2000, QLatin1Char('a'));
    const QString result = names::ReplaceNoCase(text, QStringLiteral("A"), QStringLiteral("aA"));
    QCOMPARE(result.size(), 4000);
    QCOMPARE(names::ReplaceNoCase(QStringLiteral("xax"), QStringLiteral("a"), QStringLiteral("AAA")),
             QStringLiteral("xAAAx"));
}

void NameToolsTest::nameSelectionFollowsThePrefix_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<Selection>("selection");
    QTest::newRow("prefix and separator: rest selected")
        << QStringLiteral("1990.01.31 Urlaub") << QStringLiteral("1990.01.31") << Selection{11, 6};
    QTest::newRow("no prefix: whole name")
        << QStringLiteral("IMG_0815") << QStringLiteral("1990.01.31") << Selection{0, 8};
    QTest::newRow("name equals prefix: caret at end")
        << QStringLiteral("1990.01.31") << QStringLiteral("1990.01.31") << Selection{10, 0};
    QTest::newRow("prefix plus separator only: caret at end")
        << QStringLiteral("1990.01.31_") << QStringLiteral("1990.01.31") << Selection{11, 0};
    QTest::newRow("empty prefix: from the second character")
        << QStringLiteral("Urlaub") << QString() << Selection{1, 5};
    QTest::newRow("empty prefix, one character") << QStringLiteral("U") << QString() << Selection{1, 0};
    QTest::newRow("empty name") << QString() << QString() << Selection{0, 0};
    QTest::newRow("prefix later in the name: offset from the start")
        << QStringLiteral("Rom 2004 Forum") << QStringLiteral("2004") << Selection{5, 9};
    QTest::newRow("case matters") << QStringLiteral("urlaub rom") << QStringLiteral("Urlaub")
                                  << Selection{0, 10};
}

void NameToolsTest::nameSelectionFollowsThePrefix()
{
    QFETCH(QString, name);
    QFETCH(QString, prefix);
    QTEST(names::nameSelectionOnFocus(name, prefix), "selection");
}

void NameToolsTest::prefixBoxSelectsFromTheThirdCharacter_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<Selection>("selection");
    QTest::newRow("date") << QStringLiteral("1990.01.31") << Selection{2, 8};
    QTest::newRow("two characters") << QStringLiteral("19") << Selection{2, 0};
    QTest::newRow("one character") << QStringLiteral("1") << Selection{1, 0};
    QTest::newRow("empty") << QString() << Selection{0, 0};
}

void NameToolsTest::prefixBoxSelectsFromTheThirdCharacter()
{
    QFETCH(QString, text);
    QTEST(names::prefixSelectionOnFocus(text), "selection");
}

void NameToolsTest::xButtonTogglesBetweenEmptyAndFileName_data()
{
    QTest::addColumn<QString>("current");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("result");
    const QString shown = QStringLiteral("IMG_0815");
    QTest::newRow("filled box empties") << QStringLiteral("Urlaub") << shown << QString();
    QTest::newRow("blank counts as text") << QStringLiteral(" ") << shown << QString();
    QTest::newRow("empty box gets the name back") << QString() << shown << QStringLiteral("IMG_0815");
    QTest::newRow("slot without a picture stays empty") << QString() << QString() << QString();
}

void NameToolsTest::xButtonTogglesBetweenEmptyAndFileName()
{
    QFETCH(QString, current);
    QFETCH(QString, shown);
    QTEST(names::toggledName(current, shown), "result");
}

QTEST_APPLESS_MAIN(NameToolsTest)
#include "nametools_test.moc"
