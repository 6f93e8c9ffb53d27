#include "RecordingUi.h"

void RecordingUi::Ask(Question question, const QString& text, std::function<void(bool yes)> reply)
{
    const MsgAnswer a = Show(text, MsgIcon::Exclamation, ButtonsOf(question));
    reply(a == MsgAnswer::Yes || a == MsgAnswer::Ok);
}

MsgAnswer RecordingUi::Show(const QString& text, MsgIcon icon, MsgButtons buttons)
{
    boxes.push_back({text, icon, buttons});
    if (onBox)
        onBox(boxes.back());
    if (!answers.empty()) {
        const MsgAnswer a = answers.front();
        answers.pop_front();
        return a;
    }
    return buttons == MsgButtons::YesNo ? MsgAnswer::No : MsgAnswer::Ok;
}

bool RecordingUi::ChooseFilesToSend(const QString& title, bool multiSelect, const QString& initialFolder,
                                    QString& dialogResult)
{
    lastDialogTitle = title;
    lastDialogMulti = multiSelect;
    lastDialogFolder = initialFolder;
    dialogResult = nextDialogResult;
    return !dialogResult.isEmpty();
}

QStringList RecordingUi::BoxTexts() const
{
    QStringList out;
    for (const auto& b : boxes)
        out << b.text;
    return out;
}

bool RecordingUi::SawBoxContaining(const QString& part) const
{
    for (const auto& b : boxes)
        if (b.text.contains(part))
            return true;
    return false;
}
