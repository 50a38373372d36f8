#pragma once

#include <QString>
#include <functional>

class QWidget;

// Every message box of the program goes through here, so tests can answer them
// without a modal window.
namespace platform {

// Button and icon combinations, with the numbers users of the old program knew.
enum MsgStyle {
    OkCritical = 16,          // OK, stop icon
    YesNoCancelQuestion = 35, // Yes, No, Cancel, question icon
    OkInformation = 64,       // OK, information icon
};

// The answers.
enum MsgAnswer { AnswerOk = 1, AnswerCancel = 2, AnswerYes = 6, AnswerNo = 7 };

struct MessageRequest {
    QString prompt;
    int style = OkInformation;
    QString title;
};

using MessageHandler = std::function<int(const MessageRequest &)>;

// Shows a modal message box (or asks the installed handler) and returns the answer.
int MsgBox(QWidget *parent, const QString &prompt, int style, const QString &title);

// Replaces the modal box by handler; an empty handler restores the real box.
void setMessageHandler(MessageHandler handler);

// Shows a message that does not stop the user's work: a box that is not modal
// and goes when it is closed. Tests record it through the installed handler.
using NoticeHandler = std::function<void(const MessageRequest &)>;
void Notice(QWidget *parent, const QString &text, const QString &title);
void setNoticeHandler(NoticeHandler handler);

} // namespace platform
