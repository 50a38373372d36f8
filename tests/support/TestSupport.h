#pragma once

#include "core/pages/PageModel.h"
#include "core/settings/Settings.h"
#include "ui/pages/UnsavedNames.h"
#include "ui/window/Dialogs.h"
#include "ui/window/Form1.h"

#include <QList>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <deque>
#include <memory>

// Helpers shared by the test programs.
namespace testing {

// The folder of licensed camera pictures beside the project; empty when absent.
QString photosDir();

// Writes small real JPEG files with the given names into dir.
void writePictures(const QString &dir, const QStringList &names, QSize size = QSize(64, 48));

// Answers message boxes instead of the user while it lives: each box takes the next
// queued answer (or OK / Cancel when none is queued) and is recorded; notices are
// recorded too.
class MessageBoxes {
public:
    MessageBoxes();
    ~MessageBoxes();
    void answer(int answer) { m_answers.push_back(answer); }
    // From now on each box is answered by answerer (and still recorded).
    void answerBy(platform::MessageHandler answerer) { m_answerer = std::move(answerer); }
    const QList<platform::MessageRequest> &shown() const { return m_shown; }
    // The messages that did not stop the user (not modal).
    const QList<platform::MessageRequest> &notices() const { return m_notices; }
    void clear() { m_shown.clear(); }

private:
    std::deque<int> m_answers;
    platform::MessageHandler m_answerer;
    QList<platform::MessageRequest> m_shown;
    QList<platform::MessageRequest> m_notices;
};

// The bytes of the file at path; empty when it cannot be read.
QByteArray contentOf(const QString &path);

struct Start {
    QString program;
    QStringList args;
    QByteArray content; // the program file's bytes at the moment of the start
};

// Records every program start instead of starting it while it lives; each start
// succeeds unless succeed is false.
class StartRecorder {
public:
    StartRecorder();
    ~StartRecorder();
    StartRecorder(const StartRecorder &) = delete;
    StartRecorder &operator=(const StartRecorder &) = delete;
    QList<Start> starts;
    bool succeed = true;
};

// A window over a temporary directory: its settings file lives in a second
// temporary directory, as if beside the executable.
struct FormFixture {
    QTemporaryDir programDir;
    QTemporaryDir pictureDir;
    std::unique_ptr<Form1> form;

    QString iniPath() const;
    QString picturePath() const; // with a trailing separator

    // Writes the settings file's lines before the window starts (may be empty).
    void writeSettings(const QString &content);
    // The window's options; commandLine defaults to the picture directory.
    Form1::Options options(const QString &commandLine = QStringLiteral("<pictures>")) const;
    // Creates the window without loading it (for a test that sets it up first).
    Form1 &build(const QString &commandLine = QStringLiteral("<pictures>"));
    // Creates and loads the window.
    Form1 &start(const QString &commandLine = QStringLiteral("<pictures>"));
};

} // namespace testing
