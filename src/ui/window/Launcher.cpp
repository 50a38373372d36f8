#include "ui/window/Launcher.h"

#include "ui/window/Startup.h"

#include <QTimer>

Launcher::Launcher(const Form1::Options &options, QObject *parent) : QObject(parent), m_options(options) {}

Launcher::~Launcher() = default;

void Launcher::start()
{
    m_font = 0;
    QTimer::singleShot(0, this, &Launcher::step);
}

void Launcher::step()
{
    // One font a turn (the first also reads the system's font list), then the
    // window, its load while it is hidden, showing it, and its first page.
    if (m_font < Form1::designedFontCount()) {
        Form1::loadFont(m_font++);
    } else if (!m_form) {
        m_form = std::make_unique<Form1>(m_options);
        emit built();
    } else if (m_stage == 0) {
        m_form->startup().prepare();
        ++m_stage;
    } else if (m_stage == 1) {
        m_form->startup().show(true);
        ++m_stage;
    } else {
        m_form->startup().fillFirstPage();
        emit loaded();
        return;
    }
    QTimer::singleShot(0, this, &Launcher::step);
}
