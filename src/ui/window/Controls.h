#pragma once

#include "core/pages/Grid.h"

#include <array>

class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTreeView;
class ClickLabel;
class PictureBox;

// Every control of the window, by the names the whole program uses for them.
// Each also carries its name as objectName ("ZurückBtn" keeps its umlaut there).
struct Controls {
    // First tool bar: date prefix and suffix.
    QFrame *TopFrame1 = nullptr;
    QLineEdit *JahrText = nullptr;
    QPushButton *Command1 = nullptr; // "|<- Links anfügen"
    QLineEdit *RechtsAnfTxt = nullptr;
    QPushButton *REchtsAnf = nullptr; // "->| Rechts anfügen"

    // Second tool bar: search and replace, numbering, clearing, reset.
    QFrame *TopFrame2 = nullptr;
    QLineEdit *SuchenTxt = nullptr;
    QLineEdit *Ersetzenentxt = nullptr;
    QPushButton *Ersetzen = nullptr;
    QLabel *Label2 = nullptr; // "Start:"
    QLineEdit *NummerTxt = nullptr;
    QPushButton *SetNr = nullptr;
    QPushButton *Command4 = nullptr;     // "(X) Alles löschen"
    QPushButton *ReloadBUtton = nullptr; // "Zurücksetzen"

    // The controls beyond the original program's, in a frame of their own
    // beside the tool bars.
    QFrame *ExtrasFrame = nullptr;
    QPushButton *Aufnahmedatum = nullptr; // "Aufnahme&datum"
    QPushButton *Rueckgaengig = nullptr;  // "&Rückgängig": takes the last save back
    QCheckBox *Begleitdateien = nullptr;  // "Begleitdateien mitnehmen"
    QCheckBox *AlleSeiten = nullptr;      // "&Alle Seiten": the tools and the save take the whole directory
    QLabel *GeaendertTxt = nullptr;       // "7 Namen geändert"

    // Bottom bar.
    QFrame *BottomFrame1 = nullptr;
    QPushButton *Speichern = nullptr; // "Namen Speichern"
    QCheckBox *BilderAnzeigen = nullptr;
    QPushButton *Command5 = nullptr; // "Verzeichnis neu einlesen"
    QPushButton *VerzeichnisWechseln = nullptr;
    ClickLabel *VerzeichnisText = nullptr;

    // Page arrows and counter.
    QFrame *ArrowFrame = nullptr;
    QLabel *CounterTxt = nullptr;
    ClickLabel *Label1 = nullptr; // "Online Update"
    QPushButton *ZurueckBtn = nullptr;
    QPushButton *NextBtn = nullptr;

    // Directory chooser panel.
    QGroupBox *VerzeichnisWahl = nullptr;
    QComboBox *Drive1 = nullptr;
    QTreeView *DirTemp = nullptr;
    QPushButton *PfadSpeichern = nullptr; // "Speichern"
    QPushButton *Command2 = nullptr;      // "Abbruch"

    // The placeholder picture, hidden: never shown (the slots take theirs from
    // the artwork).
    QLabel *NoImage = nullptr;

    // Thumbnail slots: picture box, name box, "X" button.
    std::array<PictureBox *, grid::SlotCount> Picture1{};
    std::array<QPlainTextEdit *, grid::SlotCount> Text1{};
    std::array<QPushButton *, grid::SlotCount> Command3{};
};
