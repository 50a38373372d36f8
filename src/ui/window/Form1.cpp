#include "ui/window/Form1.h"

#include "core/pages/PageModel.h"
#include "core/pages/Resize.h"
#include "core/platform/CommandLine.h"
#include "core/platform/FileNames.h"
#include "core/platform/Priority.h"
#include "core/settings/Settings.h"
#include "core/update/WWWUpdate.h"
#include "ui/chooser/DirChooser.h"
#include "ui/external/UpdateActions.h"
#include "ui/external/ViewerActions.h"
#include "ui/names/NameEditing.h"
#include "ui/names/Renaming.h"
#include "ui/names/UndoActions.h"
#include "ui/pages/CaptureDates.h"
#include "ui/pages/PageNavigation.h"
#include "ui/pages/PageView.h"
#include "ui/pages/ResizeHandler.h"
#include "ui/pages/Thumbnails.h"
#include "ui/pages/UnsavedNames.h"
#include "ui/window/Artwork.h"
#include "ui/window/Dialogs.h"
#include "ui/window/Drops.h"
#include "ui/window/Shortcuts.h"
#include "ui/window/Startup.h"
#include "ui/window/Twips.h"
#include "ui/window/Widgets.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFontMetricsF>
#include <QFrame>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeView>
#include <iterator>

namespace {

constexpr quint32 PaleYellow = 0x00F0FFFF;
constexpr quint32 PaleRed = 0x00C0C0FF;
constexpr quint32 PaleGreen = 0x00C0FFC0;
constexpr quint32 PaleOrange = 0x00C0E0FF;
constexpr quint32 White = 0x00FFFFFF;
constexpr quint32 DarkBlue = 0x00C00000;
constexpr quint32 DarkGrey = 0x00404040;

const QString ArialNarrow = QStringLiteral("Arial Narrow");
const QString Arial = QStringLiteral("Arial");
const QString SansSerif = QStringLiteral("MS Sans Serif");
const QString ArialBlack = QStringLiteral("Arial Black");

template <typename W> W *make(QWidget *parent, const char *name, double l, double t, double w, double h)
{
    auto *widget = new W(parent);
    widget->setObjectName(QString::fromUtf8(name));
    twips::place(widget, l, t, w, h);
    return widget;
}

QFrame *frame(QWidget *parent, const char *name, double l, double t, double w, double h)
{
    auto *f = make<QFrame>(parent, name, l, t, w, h);
    f->setFrameShape(QFrame::NoFrame);
    return f;
}

QPushButton *button(QWidget *parent, const char *name, double l, double t, double w, double h,
                    const QString &caption, const QFont &font)
{
    auto *b = make<QPushButton>(parent, name, l, t, w, h);
    b->setText(caption);
    b->setFont(font);
    return b;
}

QLineEdit *textBox(QWidget *parent, const char *name, double l, double t, double w, double h,
                   const QString &value, const QFont &font, quint32 back)
{
    auto *e = make<QLineEdit>(parent, name, l, t, w, h);
    e->setText(value);
    e->setFont(font);
    setBackColour(e, back);
    return e;
}

void setArrow(QPushButton *b, bool right)
{
    QIcon icon;
    icon.addPixmap(artwork::arrow(right, true), QIcon::Normal);
    icon.addPixmap(artwork::arrow(right, false), QIcon::Disabled);
    b->setIcon(icon);
    b->setIconSize(QSize(43, 28));
}

} // namespace

namespace {

struct FontSpec {
    const QString &family;
    double size;
    int weight;
    bool italic;
    bool underline;
};

// Every font the controls are designed with.
const FontSpec DesignedFonts[] = {
    {Arial, 11.25, 400, false, false},       {Arial, 11.25, 700, false, false},
    {Arial, 9, 400, false, false},           {Arial, 9, 700, false, false},
    {Arial, 9.75, 400, false, false},        {Arial, 9.75, 700, false, false},
    {Arial, 9.75, 700, true, false},         {ArialBlack, 15.75, 900, false, false},
    {ArialBlack, 9.75, 900, false, false},   {ArialNarrow, 11.25, 400, false, false},
    {ArialNarrow, 14.25, 700, false, false}, {ArialNarrow, 9.75, 700, false, false},
    {ArialNarrow, 9.75, 700, true, false},   {SansSerif, 8.25, 400, false, true},
    {SansSerif, 8.25, 700, false, false},    {SansSerif, 9.75, 700, false, false},
    {Arial, 8.25, 400, false, false}, // the controls beyond the designed ones
};

} // namespace

int Form1::designedFontCount()
{
    return int(std::size(DesignedFonts));
}

void Form1::substituteFonts()
{
    // The designed fonts, by their usual metric-compatible stand-ins where the
    // originals are not installed.
    static const bool substituted = [] {
        QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                                   {QStringLiteral("Arial"), QStringLiteral("Liberation Sans")});
        QFont::insertSubstitutions(QStringLiteral("Arial Narrow"),
                                   {QStringLiteral("Liberation Sans Narrow")});
        return true;
    }();
    Q_UNUSED(substituted);
}

void Form1::loadFont(int index)
{
    substituteFonts();
    if (index < 0 || index >= designedFontCount())
        return;
    // Finding a font and loading its engine is the largest part of building the
    // window and of its first paint; asked for once, each is cached.
    const FontSpec &f = DesignedFonts[index];
    const QFontMetricsF metrics(makeFont(f.family, f.size, f.weight, f.italic, f.underline));
    metrics.horizontalAdvance(QStringLiteral("Namora 0123456789 ÄÖÜäöüß"));
}

Form1::Form1(const Options &options, QWidget *parent) : QWidget(parent), m_options(options)
{
    setObjectName(QStringLiteral("Form1"));
    // The fonts' engines load when first painted, or ahead (see Launcher).
    substituteFonts();
    setWindowTitle(QStringLiteral("Namora  - Version ") + QLatin1String(commandline::DisplayVersion));
    setWindowIcon(artwork::windowIcon());
    twips::setWindowSize(this, 22875 + twips::FrameWidth, 10260 + twips::FrameHeight);
    createControls();
    createControllers();
    // Keys and clicks anywhere in the program (a message box's too) make the
    // workers stand aside for a moment.
    qApp->installEventFilter(this);
}

Form1::~Form1() = default;

void Form1::createControls()
{
    Controls &c = m_c;

    c.TopFrame1 = frame(this, "TopFrame1", 120, 120, 9615, 495);
    c.JahrText = textBox(c.TopFrame1, "JahrText", 0, 0, 4335, 390, QStringLiteral("1990.01.31"),
                         makeFont(ArialNarrow, 14.25, 700), PaleYellow);
    c.Command1 = button(c.TopFrame1, "Command1", 4320, 0, 1575, 405, QStringLiteral("|<- Links anfügen"),
                        makeFont(ArialNarrow, 9.75, 700));
    setBackColour(c.Command1, PaleYellow);
    c.RechtsAnfTxt = textBox(c.TopFrame1, "RechtsAnfTxt", 6000, 0, 1935, 435, QString(),
                             makeFont(ArialNarrow, 14.25, 700), PaleYellow);
    c.REchtsAnf = button(c.TopFrame1, "REchtsAnf", 7920, 0, 1695, 405, QStringLiteral("->| Rechts anfügen"),
                         makeFont(ArialNarrow, 9.75, 700));
    setBackColour(c.REchtsAnf, PaleYellow);

    c.TopFrame2 = frame(this, "TopFrame2", 9720, 120, 9615, 495);
    c.SuchenTxt = textBox(c.TopFrame2, "SuchenTxt", 120, 0, 1455, 420, QString(),
                          makeFont(ArialNarrow, 11.25), PaleRed);
    c.Ersetzenentxt = textBox(c.TopFrame2, "Ersetzenentxt", 1560, 0, 1455, 420, QString(),
                              makeFont(ArialNarrow, 11.25), PaleGreen);
    c.Ersetzen = button(c.TopFrame2, "Ersetzen", 3000, 0, 975, 405, QStringLiteral("Ersetzen"),
                        makeFont(Arial, 9, 700));
    setBackColour(c.Ersetzen, PaleYellow);
    c.Ersetzen->setEnabled(false);
    c.Label2 = make<QLabel>(c.TopFrame2, "Label2", 4080, 75, 495, 255);
    c.Label2->setText(QStringLiteral("Start:"));
    c.Label2->setFont(makeFont(Arial, 9));
    c.Label2->setAlignment(Qt::AlignRight | Qt::AlignTop);
    c.NummerTxt = textBox(c.TopFrame2, "NummerTxt", 4665, 0, 630, 390, QStringLiteral("01"),
                          makeFont(Arial, 11.25, 700), PaleYellow);
    c.NummerTxt->setAlignment(Qt::AlignCenter);
    c.SetNr = button(c.TopFrame2, "SetNr", 5280, 0, 1095, 405, QStringLiteral("Nr. Setzen"),
                     makeFont(Arial, 9, 700));
    setBackColour(c.SetNr, PaleYellow);
    c.Command4 = button(c.TopFrame2, "Command4", 6480, 0, 1815, 405, QStringLiteral("(X) Alles löschen"),
                        makeFont(Arial, 9, 700));
    setBackColour(c.Command4, PaleOrange);
    c.ReloadBUtton = button(c.TopFrame2, "ReloadBUtton", 8400, 0, 1215, 405, QStringLiteral("Zurücksetzen"),
                            makeFont(ArialNarrow, 9.75, 700));
    setBackColour(c.ReloadBUtton, PaleRed);

    c.BottomFrame1 = frame(this, "BottomFrame1", 120, 7920, 17295, 615);
    c.Speichern = button(c.BottomFrame1, "Speichern", 0, 0, 2295, 615, QStringLiteral("Namen Speichern"),
                         makeFont(SansSerif, 9.75, 700));
    setBackColour(c.Speichern, PaleGreen);
    c.BilderAnzeigen = make<QCheckBox>(c.BottomFrame1, "BilderAnzeigen", 2520, 120, 1935, 255);
    c.BilderAnzeigen->setText(QStringLiteral("Bilder Anzeigen"));
    c.BilderAnzeigen->setFont(makeFont(Arial, 9.75, 700));
    c.BilderAnzeigen->setChecked(false);
    // Beyond the designed controls, in the free strip below "Bilder Anzeigen".
    c.AlleSeiten = make<QCheckBox>(c.BottomFrame1, "AlleSeiten", 2520, 375, 1275, 240);
    c.AlleSeiten->setText(QStringLiteral("&Alle Seiten"));
    c.AlleSeiten->setFont(makeFont(Arial, 8.25));
    c.AlleSeiten->setToolTip(QStringLiteral("Die Werkzeuge und „Namen Speichern“ nehmen alle Bilder des "
                                            "Verzeichnisses, nicht nur die der Seite (Alt+A)"));
    c.GeaendertTxt = make<QLabel>(c.BottomFrame1, "GeaendertTxt", 3825, 375, 1545, 240);
    c.GeaendertTxt->setFont(makeFont(Arial, 8.25));
    c.Command5 = button(c.BottomFrame1, "Command5", 5400, 0, 2175, 405,
                        QStringLiteral("Verzeichnis neu einlesen"), makeFont(ArialNarrow, 9.75, 700));
    setBackColour(c.Command5, White);
    c.VerzeichnisWechseln = button(c.BottomFrame1, "VerzeichnisWechseln", 7680, 0, 1200, 405,
                                   QStringLiteral("Verzeichnis:"), makeFont(ArialNarrow, 9.75, 700, true));
    c.VerzeichnisText = make<ClickLabel>(c.BottomFrame1, "VerzeichnisText", 9120, 75, 9495, 615);
    c.VerzeichnisText->setText(QStringLiteral("VerzeichnisText"));
    c.VerzeichnisText->setFont(makeFont(Arial, 9.75, 700, true));
    c.VerzeichnisText->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    c.VerzeichnisText->setCursor(Qt::PointingHandCursor);
    setTextColour(c.VerzeichnisText, DarkGrey);

    c.ArrowFrame = frame(this, "ArrowFrame", 17280, 7800, 4095, 855);
    c.CounterTxt = make<QLabel>(c.ArrowFrame, "CounterTxt", 0, 0, 2415, 615);
    c.CounterTxt->setText(QStringLiteral("1/24"));
    c.CounterTxt->setFont(makeFont(SansSerif, 9.75, 700));
    c.CounterTxt->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    c.Label1 = make<ClickLabel>(c.ArrowFrame, "Label1", 720, 510, 1095, 255);
    c.Label1->setText(QStringLiteral("Online Update"));
    c.Label1->setFont(makeFont(SansSerif, 8.25, 400, false, true));
    c.Label1->setCursor(Qt::PointingHandCursor);
    setTextColour(c.Label1, DarkBlue);
    c.ZurueckBtn =
        button(c.ArrowFrame, "ZurückBtn", 2280, 0, 855, 525, QString(), makeFont(ArialBlack, 15.75, 900));
    c.NextBtn =
        button(c.ArrowFrame, "NextBtn", 3120, 0, 855, 525, QString(), makeFont(ArialBlack, 15.75, 900));
    for (QPushButton *b : {c.ZurueckBtn, c.NextBtn}) {
        setBackColour(b, White);
        setArrow(b, b == c.NextBtn);
        b->setEnabled(false);
    }

    c.NoImage = make<QLabel>(this, "NoImage", 14040, 8400, 2295, 1455);
    c.NoImage->setPixmap(artwork::placeholder());
    c.NoImage->hide();

    // Slots 0..19 stand in a 5 x 4 grid, column by column; the others are parked at
    // the right edge until the layout places them.
    for (int i = 0; i < grid::SlotCount; ++i) {
        double l = 22875, t = 720;
        if (i < 20) {
            l = 120 + (i / 4) * 4560;
            t = 720 + (i % 4) * 1800;
        }
        c.Picture1[i] = make<PictureBox>(this, "Picture1", l, t, 2295, 1575);
        c.Picture1[i]->setProperty("Index", i);
        c.Picture1[i]->setCursor(Qt::PointingHandCursor);
        c.Text1[i] = make<QPlainTextEdit>(this, "Text1", l + 2280, t, 2055, 1575);
        c.Text1[i]->setProperty("Index", i);
        c.Text1[i]->setFont(makeFont(Arial, 11.25));
        c.Text1[i]->setTabChangesFocus(true);
        c.Command3[i] = button(this, "Command3", l + 4080, t + 1320, 255, 255, QStringLiteral("X"),
                               makeFont(ArialBlack, 9.75, 900));
        c.Command3[i]->setProperty("Index", i);
        setBackColour(c.Command3[i], White);
        c.Picture1[i]->hide();
        c.Text1[i]->hide();
        c.Command3[i]->hide();
    }
    // The bottom bars lie over the slots: the grid ends above BottomFrame1, but
    // the higher ArrowFrame may still meet the lowest slot of the last column,
    // and the counter and the arrows must stay readable and clickable there.
    c.BottomFrame1->raise();
    c.ArrowFrame->raise();
    for (int i = 1; i < 20; ++i)
        setTabOrder(c.Text1[i - 1], c.Text1[i]);
    QWidget *previous = c.Text1[19];
    for (int i = 20; i < grid::SlotCount; ++i) {
        setTabOrder(previous, c.Command3[i]);
        setTabOrder(c.Command3[i], c.Text1[i]);
        previous = c.Text1[i];
    }

    // Beyond the designed controls: a frame of its own beside the tool bars,
    // created after the slots so that the designed tab order stays as it is.
    const resizing::Box extras =
        resizing::extrasFrame({twips::left(c.TopFrame1), twips::top(c.TopFrame1), twips::width(c.TopFrame1),
                               twips::height(c.TopFrame1)},
                              twips::left(c.TopFrame2), twips::top(c.TopFrame2), twips::width(c.TopFrame2));
    c.ExtrasFrame = frame(this, "ExtrasFrame", extras.left, extras.top, extras.width, extras.height);
    // Two rows of small controls within the tool bars' height.
    c.Aufnahmedatum = button(c.ExtrasFrame, "Aufnahmedatum", 120, 0, 1575, 240,
                             QStringLiteral("Aufnahme&datum"), makeFont(Arial, 8.25));
    c.Aufnahmedatum->setToolTip(
        QStringLiteral("Setzt vor jeden Namen der Seite das Datum, an dem sein Bild aufgenommen wurde "
                       "(Format: Einstellung „DatumFormat“, Trennzeichen: das letzte Zeichen des "
                       "Datumsfelds, sonst „_“)."));
    c.Begleitdateien = make<QCheckBox>(c.ExtrasFrame, "Begleitdateien", 120, 255, 3195, 240);
    c.Begleitdateien->setText(QStringLiteral("Begleitdateien mitnehmen"));
    c.Begleitdateien->setFont(makeFont(Arial, 8.25));
    c.Begleitdateien->setToolTip(
        QStringLiteral("Benennt mit jedem Bild die Dateien gleichen Namens um: RAW-Dateien, "
                       "Begleitdateien (.xmp, .pp3, .dop, .aae), .thm und Sprachnotizen (.wav)."));
    c.Rueckgaengig = button(c.ExtrasFrame, "Rückgängig", 1740, 0, 1575, 240, QStringLiteral("&Rückgängig"),
                            makeFont(Arial, 8.25));
    c.Rueckgaengig->setEnabled(false);

    // The chooser panel lies over the thumbnails, so it is created last.
    c.VerzeichnisWahl = make<QGroupBox>(this, "VerzeichnisWahl", 2520, 840, 9495, 8175);
    c.VerzeichnisWahl->setTitle(QStringLiteral("Verzeichnis Wählen"));
    c.VerzeichnisWahl->setFont(makeFont(SansSerif, 8.25, 700));
    c.VerzeichnisWahl->setAutoFillBackground(true);
    setBackColour(c.VerzeichnisWahl, White);
    c.Drive1 = make<QComboBox>(c.VerzeichnisWahl, "Drive1", 240, 840, 6375, 360);
    c.Drive1->setFont(makeFont(SansSerif, 9.75, 700));
    c.DirTemp = make<QTreeView>(c.VerzeichnisWahl, "DirTemp", 240, 1320, 6375, 6840);
    c.DirTemp->setFont(makeFont(SansSerif, 8.25, 700));
    c.DirTemp->header()->hide();
    c.PfadSpeichern = button(c.VerzeichnisWahl, "PfadSpeichern", 6720, 840, 2535, 495,
                             QStringLiteral("Speichern"), makeFont(Arial, 9.75, 700));
    setBackColour(c.PfadSpeichern, White);
    c.Command2 = button(c.VerzeichnisWahl, "Command2", 6720, 1680, 2535, 495, QStringLiteral("Abbruch"),
                        makeFont(Arial, 9.75));
    c.VerzeichnisWahl->hide();
}

void Form1::createControllers()
{
    // The program's directory is the picture directory until another is chosen.
    m_settings = std::make_unique<Settings>(
        m_options.iniPath,
        Settings::Defaults{platform::absoluteDirectory(m_options.programDir), wwwupdate::DefaultServer});
    // Remembering is a convenience; its failure is said once, without stopping
    // the user, and the values stay for this run.
    connect(m_settings.get(), &Settings::writeFailed, this, [this](const QString &reason) {
        platform::Notice(this,
                         QStringLiteral("Die Einstellungen können nicht gespeichert werden:\n%1\n\n%2\n\n"
                                        "Namora merkt sie sich bis zum Ende dieses Programmlaufs.")
                             .arg(m_settings->iniPath(), reason),
                         QStringLiteral("Einstellungen"));
    });
    m_model = std::make_unique<PageModel>();

    m_pageView = std::make_unique<PageView>(*this, m_c, *m_model, this);
    m_thumbnails = std::make_unique<Thumbnails>(*this, m_c, *m_model, *m_settings, this);
    m_renaming = std::make_unique<Renaming>(*this, *m_c.Speichern, *m_model, this);
    m_unsavedNames = std::make_unique<UnsavedNames>(*this, *m_model, *m_renaming);
    m_nameEditing = std::make_unique<NameEditing>(m_c, *m_model, *m_settings, this);
    m_pageNavigation = std::make_unique<PageNavigation>(m_c, *m_model, *m_unsavedNames, this);
    m_resizeHandler = std::make_unique<ResizeHandler>(*this, m_c, *m_settings, *m_model, *m_pageView, this);
    m_dirChooser = std::make_unique<DirChooser>(*this, m_c, *m_settings, *m_model, *m_unsavedNames, this);
    m_viewerActions = std::make_unique<ViewerActions>(m_c.Picture1, *m_model, this);
    m_updateActions = std::make_unique<UpdateActions>(*this, *m_c.Label1, *m_settings, *m_unsavedNames,
                                                      m_options.programDir, this);
    m_updateActions->setInstalledProgram(m_options.installed);
    m_captureDates = std::make_unique<CaptureDates>(*this, m_c, *m_model, *m_settings, *m_unsavedNames, this);
    m_undoActions = std::make_unique<UndoActions>(*this, m_c, *m_model, *m_settings, *m_unsavedNames, this);
    m_shortcuts = std::make_unique<Shortcuts>(*this, m_c, this);
    m_drops = std::make_unique<Drops>(*this, *m_dirChooser, this);
    m_startup = std::make_unique<Startup>(*this, *m_settings, *m_model, *m_pageView, *m_thumbnails,
                                          *m_renaming, m_options.commandLine);

    connect(this, &Form1::resized, m_resizeHandler.get(), &ResizeHandler::Form_Resize);
    connect(this, &Form1::closing, m_thumbnails.get(), &Thumbnails::windowClosing);
    connect(this, &Form1::closing, m_updateActions.get(), &UpdateActions::windowClosing);
    connect(this, &Form1::closing, m_captureDates.get(), &CaptureDates::windowClosing);
}

void Form1::Form_Load()
{
    m_startup->Form_Load();
}

bool Form1::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
        platform::userActed();
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

void Form1::resizeEvent(QResizeEvent *e)
{
    QWidget::resizeEvent(e);
    emit resized();
}

void Form1::changeEvent(QEvent *e)
{
    QWidget::changeEvent(e);
    if (e->type() == QEvent::WindowStateChange)
        emit resized();
}

void Form1::closeEvent(QCloseEvent *e)
{
    // Typed names are not lost without a word: the usual question first (Yes
    // closes only once the save succeeded, Cancel keeps the window).
    if (!m_closing && m_unsavedNames && m_unsavedNames->ask() == UnsavedNames::Answer::Cancelled) {
        e->ignore();
        return;
    }
    m_closing = true;
    emit closing();
    e->accept();
}
