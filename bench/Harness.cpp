#include "Harness.h"

#include "Measure.h"
#include "core/pages/PageModel.h"
#include "core/platform/FileNames.h"
#include "core/renaming/RenameRun.h"
#include "core/settings/Ini.h"
#include "ui/pages/Thumbnails.h"
#include "ui/window/Dialogs.h"
#include "ui/window/Launcher.h"

#include <QAbstractButton>
#include <QtTest/QTest>
#include <cstdio>
#include <cstdlib>

namespace bench {

namespace {
QString &lastTitle()
{
    static QString title;
    return title;
}
} // namespace

Window::Window(const QString &pictureDir, bool thumbnails, QSize size, bool build) : m_size(size)
{
    platform::setMessageHandler([](const platform::MessageRequest &r) {
        lastTitle() = r.title;
        return r.style == platform::YesNoCancelQuestion ? int(platform::AnswerNo) : int(platform::AnswerOk);
    });
    renaming::setJournalDirectory(m_journals.path());
    Form1::Options &o = m_options;
    o.programDir = m_programDir.path();
    o.iniPath = platform::joinPath(m_programDir.path(), QStringLiteral("namora.ini"));
    o.commandLine = pictureDir;
    const ini::WriteResult written =
        ini::IniWrite(QStringLiteral("Einstellungen"), QStringLiteral("BilderAnzeigen"),
                      thumbnails ? QStringLiteral("1") : QStringLiteral("0"), o.iniPath, true);
    if (!written.ok()) {
        std::fprintf(stderr, "cannot write the window's settings file %s: %s\n", qPrintable(o.iniPath),
                     qPrintable(written.reason));
        std::exit(1);
    }
    if (build)
        this->build();
}

void Window::build()
{
    m_built = std::make_unique<Form1>(m_options);
    m_form = m_built.get();
    m_form->resize(m_size);
    m_thumbnails = m_form->findChild<Thumbnails *>();
    Q_ASSERT(m_thumbnails);
}

void Window::launch()
{
    m_launcher = std::make_unique<Launcher>(m_options);
    QObject::connect(m_launcher.get(), &Launcher::built, [this] {
        m_form = m_launcher->form();
        m_form->resize(m_size);
        m_thumbnails = m_form->findChild<Thumbnails *>();
    });
    m_launcher->start();
}

Window::~Window()
{
    // The pool's jobs end before the window goes.
    m_built.reset();
    m_launcher.reset();
    m_form = nullptr;
    renaming::setJournalDirectory(QString());
    platform::setMessageHandler({});
}

int Window::slotCount() const
{
    return m_form->model().lastSlot() + 1;
}

int Window::filledSlots() const
{
    int n = 0;
    for (int i = 0; i <= m_form->model().lastSlot(); ++i)
        n += m_form->model().isFilled(i) ? 1 : 0;
    return n;
}

bool Window::activate()
{
    m_form->activateWindow();
    return QTest::qWaitForWindowActive(m_form);
}

bool Window::waitForPass(int limitMs)
{
    Thumbnails *t = m_thumbnails;
    return waitFor(
        t, &Thumbnails::passFinished, [t] { return !t->passRunning(); }, limitMs);
}

bool Window::waitForIdle(int limitMs)
{
    Thumbnails *t = m_thumbnails;
    return waitFor(
        t, &Thumbnails::idle, [t] { return t->isIdle(); }, limitMs);
}

QString lastMessageTitle()
{
    return lastTitle();
}

void click(QAbstractButton *button)
{
    QTest::mouseClick(button, Qt::LeftButton);
}

} // namespace bench
