#pragma once

#include <QObject>

class PageModel;
class UnsavedNames;
struct Controls;

// The arrows that move one page forward or back, and "Zurücksetzen". Before an
// arrow leaves a page with typed names the user is asked whether to save them.
class PageNavigation : public QObject {
    Q_OBJECT
public:
    PageNavigation(Controls &controls, PageModel &model, UnsavedNames &unsaved, QObject *parent = nullptr);

    void NextBtn_Click();
    void ZurueckBtn_Click();
    void ReloadBUtton_Click();

private:
    Controls &m_c;
    PageModel &m_model;
    UnsavedNames &m_unsaved;
};
