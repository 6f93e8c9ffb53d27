#pragma once
#include "Globals.h"
#include "Station.h"
#include "TestSupport.h"
#include "frmMain.h"
#include <QAbstractButton>
#include <QAction>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTemporaryDir>
#include <QUrl>
#include <algorithm>
#include <deque>
#include <gtest/gtest.h>
#include <memory>
#include <optional>

// One main window in its own temporary program folder, with every modal
// window answered by the test instead of a user.
struct WindowHarness {
    struct Box {
        QString text;
        MsgIcon icon;
        MsgButtons buttons;
    };
    struct FileDialogCall {
        QString title;
        bool multiSelect;
        QString folder;
    };

    QTemporaryDir dir;
    Globals g;
    std::unique_ptr<frmMain> w;

    std::vector<Box> boxes;
    std::deque<MsgAnswer> answers;          // consumed one per box; default OK / No
    std::optional<QStringList> nextChoice;  // files the dialog hands back; nullopt = cancel
    std::vector<FileDialogCall> fileDialogs;
    std::function<int(QDialog&)> onDialog;  // plays the user of a modal dialog
    std::function<void()> whileBoxOpen;     // runs while a box is open, as a user reads it
    std::vector<QString> dialogsShown;      // class names
    std::vector<QUrl> urlsOpened;
    bool openUrlWorks = true;
    int exits = 0;

    // programDir: a folder the port already knows, else the harness's own.
    explicit WindowHarness(CommPort& port, const QString& programDir = {})
    {
        g.programDir = programDir.isEmpty() ? dir.path() : programDir;
        w = std::make_unique<frmMain>(g, port);
        w->showMessageBox = [this](const QString& text, MsgIcon icon, MsgButtons buttons,
                                   std::function<void(MsgAnswer)> done) {
            boxes.push_back({text, icon, buttons});
            if (whileBoxOpen)
                whileBoxOpen();
            MsgAnswer a = buttons == MsgButtons::YesNo ? MsgAnswer::No : MsgAnswer::Ok;
            if (!answers.empty()) {
                a = answers.front();
                answers.pop_front();
            }
            if (done)
                done(a);
        };
        w->showOpenFileDialog = [this](const QString& title, bool multi, const QString& folder, QStringList& chosen) {
            fileDialogs.push_back({title, multi, folder});
            if (!nextChoice)
                return false;
            chosen = *nextChoice;
            return true;
        };
        w->execDialog = [this](QDialog& dialog) {
            dialogsShown.push_back(QString::fromLatin1(dialog.metaObject()->className()));
            return onDialog ? onDialog(dialog) : int(QDialog::Rejected);
        };
        w->openUrl = [this](const QUrl& url) {
            urlsOpened.push_back(url);
            return openUrlWorks;
        };
        w->exitProgram = [this] { ++exits; };
        w->show();
    }

    QString Path(const QString& name) const { return QDir(g.programDir).filePath(name); }

    static void WriteFile(const QString& path, const QByteArray& content)
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
        f.write(content);
    }
    static QByteArray ReadFile(const QString& path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    // Writes qrn.ini from "KEY: value" lines, then runs the start-up.
    void Load(const QStringList& iniLines)
    {
        WriteFile(Path("qrn.ini"), (iniLines.join("\r\n") + "\r\n").toLocal8Bit());
        w->StartUp();
    }

    template <class T>
    T* Find(const char* name) const
    {
        T* child = w->findChild<T*>(QLatin1String(name));
        EXPECT_NE(child, nullptr) << name;
        return child;
    }
    QAbstractButton* Button(const char* name) const { return Find<QAbstractButton>(name); }
    QAction* Action(const char* name) const { return Find<QAction>(name); }
    QLineEdit* PathBox() const { return Find<QLineEdit>("txtReceivePath"); }
    QString Label(const char* name) const { return Find<QLabel>(name)->text(); }
    bool Enabled(const char* name) const
    {
        // A menu counts as greyed when its title in the menu bar is.
        if (QMenu* menu = w->findChild<QMenu*>(QLatin1String(name)))
            return menu->menuAction()->isEnabled();
        if (QWidget* widget = w->findChild<QWidget*>(QLatin1String(name)))
            return widget->isEnabled();
        return Action(name)->isEnabled();
    }
    TransferState& State() { return w->station().State(); }
    bool SawBoxStartingWith(const QString& part) const
    {
        return std::any_of(boxes.begin(), boxes.end(), [&](const Box& b) { return b.text.startsWith(part); });
    }
};
