#include "RecordingUi.h"

MsgAnswer RecordingUi::MsgBox(const QString& text, MsgIcon icon, MsgButtons buttons)
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
