#include "support/TestSupport.h"

#include <unistd.h>

#include "TestPictures.h"
#include "core/platform/Process.h"

#include <QDir>
#include <QFile>
#include <QImage>

namespace testing {

QString photosDir()
{
    const QString dir = QStringLiteral(NAMORA_TESTDATA);
    return QDir(dir).exists() ? dir : QString();
}

void writePictures(const QString &dir, const QStringList &names, QSize size)
{
    QImage img(size, QImage::Format_RGB32);
    int seed = 0;
    for (const QString &name : names) {
        img.fill(QColor::fromHsv((seed++ * 37) % 360, 200, 200));
        img.save(QDir(dir).filePath(name), "jpeg");
    }
}

MessageBoxes::MessageBoxes()
{
    platform::setMessageHandler([this](const platform::MessageRequest &r) {
        m_shown << r;
        if (m_answerer)
            return m_answerer(r);
        if (!m_answers.empty()) {
            const int a = m_answers.front();
            m_answers.pop_front();
            return a;
        }
        return r.style == platform::YesNoCancelQuestion ? int(platform::AnswerCancel)
                                                        : int(platform::AnswerOk);
    });
    platform::setNoticeHandler([this](const platform::MessageRequest &r) { m_notices << r; });
}

MessageBoxes::~MessageBoxes()
{
    platform::setMessageHandler({});
    platform::setNoticeHandler({});
}

QByteArray contentOf(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

StartRecorder::StartRecorder()
{
    platform::setStartHandler([this](const QString &program, const QStringList &args, int fd) {
        // A start by descriptor runs what the descriptor holds, not what the
        // path names by now.
        QByteArray content;
        if (fd >= 0) {
            char buffer[4096];
            off_t at = 0;
            for (ssize_t n; (n = ::pread(fd, buffer, sizeof buffer, at)) > 0; at += n)
                content.append(buffer, n);
        } else {
            content = contentOf(program);
        }
        starts << Start{program, args, content};
        return succeed;
    });
}

StartRecorder::~StartRecorder()
{
    platform::setStartHandler({});
}

QString FormFixture::iniPath() const
{
    return QDir(programDir.path()).filePath(QStringLiteral("namora.ini"));
}

QString FormFixture::picturePath() const
{
    return pictureDir.path() + QLatin1Char('/');
}

void FormFixture::writeSettings(const QString &content)
{
    QFile f(iniPath());
    if (f.open(QIODevice::WriteOnly))
        f.write(content.toUtf8());
    // Private, as the program makes it: a file others may write is refused.
    f.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
}

Form1::Options FormFixture::options(const QString &commandLine) const
{
    Form1::Options o;
    o.iniPath = iniPath();
    o.programDir = programDir.path();
    o.commandLine = commandLine == QLatin1String("<pictures>") ? pictureDir.path() : commandLine;
    return o;
}

Form1 &FormFixture::build(const QString &commandLine)
{
    form = std::make_unique<Form1>(options(commandLine));
    return *form;
}

Form1 &FormFixture::start(const QString &commandLine)
{
    build(commandLine).Form_Load();
    return *form;
}

} // namespace testing
