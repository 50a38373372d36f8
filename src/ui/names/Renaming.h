#pragma once

#include "core/pages/PageModel.h"

#include <QObject>

class PageModel;
class QPushButton;
class QWidget;

// "Namen Speichern": saves the typed names through the page model, all or
// nothing, and tells the user the outcome. At start-up it also puts back the
// files of a renaming that a crash interrupted.
class Renaming : public QObject {
    Q_OBJECT
public:
    Renaming(QWidget &window, QPushButton &speichern, PageModel &model, QObject *parent = nullptr);

    // Saves the typed names of the page (by scope, also the names typed for
    // pictures a relayout moved off it). True when every file now has its
    // typed name.
    bool Speichern_Click(PageModel::SaveScope scope = PageModel::SaveScope::Page);

    // Recovers journals left by an interrupted renaming and says what was done.
    void recoverInterruptedRenames();

private:
    QWidget &m_window;
    PageModel &m_model;
};
