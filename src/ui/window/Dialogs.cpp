#include "ui/window/Dialogs.h"

#include <QMessageBox>

namespace platform {

namespace {
MessageHandler &handlerSlot()
{
    static MessageHandler h;
    return h;
}

NoticeHandler &noticeSlot()
{
    static NoticeHandler h;
    return h;
}
} // namespace

void setMessageHandler(MessageHandler handler)
{
    handlerSlot() = std::move(handler);
}

void setNoticeHandler(NoticeHandler handler)
{
    noticeSlot() = std::move(handler);
}

void Notice(QWidget *parent, const QString &text, const QString &title)
{
    if (noticeSlot()) {
        noticeSlot()(MessageRequest{text, OkInformation, title});
        return;
    }
    auto *box = new QMessageBox(QMessageBox::Warning, title.isEmpty() ? QStringLiteral("Namora") : title,
                                text, QMessageBox::Ok, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->setWindowModality(Qt::NonModal);
    box->show();
}

int MsgBox(QWidget *parent, const QString &prompt, int style, const QString &title)
{
    if (handlerSlot())
        return handlerSlot()(MessageRequest{prompt, style, title});

    QMessageBox box(parent);
    box.setText(prompt);
    box.setWindowTitle(title.isEmpty() ? QStringLiteral("Namora") : title);
    switch (style) {
    case YesNoCancelQuestion:
        box.setIcon(QMessageBox::Question);
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        break;
    case OkCritical:
        box.setIcon(QMessageBox::Critical);
        box.setStandardButtons(QMessageBox::Ok);
        break;
    default:
        box.setIcon(QMessageBox::Information);
        box.setStandardButtons(QMessageBox::Ok);
        break;
    }
    switch (box.exec()) {
    case QMessageBox::Yes:
        return AnswerYes;
    case QMessageBox::No:
        return AnswerNo;
    case QMessageBox::Cancel:
        return AnswerCancel;
    default:
        return style == YesNoCancelQuestion ? AnswerCancel : AnswerOk;
    }
}

} // namespace platform
