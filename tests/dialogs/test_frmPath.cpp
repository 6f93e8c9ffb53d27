#include "Globals.h"
#include "frmPath.h"
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>
#include <gtest/gtest.h>

namespace {

class frmPathTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_tmp.isValid());
        m_root = QDir::cleanPath(m_tmp.path());
        ASSERT_TRUE(QDir(m_root).mkdir("old"));
        g.pathToChoose = m_root;
    }

    std::unique_ptr<frmPath> Open()
    {
        auto dlg = std::make_unique<frmPath>(g);
        dlg->showCritical = [this](const QString& text) { messages << text; };
        dlg->show();
        return dlg;
    }

    static QLineEdit* Edit(frmPath& d, const char* name) { return d.findChild<QLineEdit*>(name); }
    static void Click(frmPath& d, const char* name)
    {
        QTest::mouseClick(d.findChild<QPushButton*>(name), Qt::LeftButton);
    }
    QStringList Entries() const { return QDir(m_root).entryList(QDir::AllEntries | QDir::NoDotAndDotDot); }

    QTemporaryDir m_tmp;
    QString m_root;
    Globals g;
    QStringList messages;
};

}  // namespace

TEST_F(frmPathTest, StartsAtTheFolderHandedIn)
{
    auto d = Open();
    EXPECT_EQ(d->windowTitle(), "Select path");
    EXPECT_FALSE(d->m_ok);
    EXPECT_EQ(d->SelectedFolder(), m_root);
    EXPECT_EQ(Edit(*d, "txtPath")->text(), m_root);
    auto* tree = d->findChild<QTreeView*>("Dir1");
    ASSERT_NE(tree, nullptr);
    EXPECT_TRUE(tree->selectionModel()->isSelected(tree->currentIndex()));
}

TEST_F(frmPathTest, MissingOrEmptyStartFolderFallsBackToHome)
{
    for (const QString& start : {m_root + "/gone", QString()}) {
        g.pathToChoose = start;
        auto d = Open();
        EXPECT_EQ(d->SelectedFolder(), QDir::cleanPath(QDir::homePath())) << start.toStdString();
    }
}

TEST_F(frmPathTest, BlankNameOnlyClearsTheBox)
{
    auto d = Open();
    Edit(*d, "txtCreatePath")->setText("   ");
    Click(*d, "btnCreatePath");
    EXPECT_EQ(Edit(*d, "txtCreatePath")->text(), "");
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_EQ(d->SelectedFolder(), m_root);
    EXPECT_EQ(Entries(), QStringList{"old"});
}

TEST_F(frmPathTest, ExistingNameIsReportedAndTheSelectionStays)
{
    auto d = Open();
    Edit(*d, "txtCreatePath")->setText(" old ");
    Click(*d, "btnCreatePath");
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0], "Could not create path '" + m_root + "/old'");
    EXPECT_EQ(Edit(*d, "txtCreatePath")->text(), "old");
    EXPECT_EQ(d->SelectedFolder(), m_root);
}

TEST_F(frmPathTest, OnlyOneLevelIsCreated)
{
    auto d = Open();
    Edit(*d, "txtCreatePath")->setText("a/b");
    Click(*d, "btnCreatePath");
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0], "Could not create path '" + m_root + "/a/b'");
    EXPECT_EQ(Entries(), QStringList{"old"});
}

TEST_F(frmPathTest, NewNameIsCreatedInTheSelectedFolderAndSelected)
{
    auto d = Open();
    ASSERT_TRUE(d->SelectFolder(m_root + "/old"));
    Edit(*d, "txtCreatePath")->setText("  new ");
    Click(*d, "btnCreatePath");
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_TRUE(QDir(m_root + "/old/new").exists());
    EXPECT_EQ(d->SelectedFolder(), m_root + "/old/new");
    EXPECT_TRUE(d->isVisible()) << "creating does not confirm";
    EXPECT_EQ(g.pathToChoose, m_root);

    Click(*d, "btnOK");
    EXPECT_TRUE(d->m_ok);
    EXPECT_EQ(g.pathToChoose, m_root + "/old/new");
    EXPECT_EQ(d->result(), QDialog::Accepted);
}

TEST_F(frmPathTest, EnterInTheNameBoxCreatesWithoutClosing)
{
    auto d = Open();
    QLineEdit* name = Edit(*d, "txtCreatePath");
    QTest::keyClicks(name, "viaenter");
    QTest::keyClick(name, Qt::Key_Return);
    EXPECT_TRUE(QDir(m_root + "/viaenter").exists());
    EXPECT_EQ(d->SelectedFolder(), m_root + "/viaenter");
    EXPECT_TRUE(d->isVisible());
    EXPECT_FALSE(d->m_ok);
}

TEST_F(frmPathTest, CancelLeavesTheFolderAndTheFlag)
{
    auto d = Open();
    ASSERT_TRUE(d->SelectFolder(m_root + "/old"));
    Click(*d, "btnCancel");
    EXPECT_FALSE(d->m_ok);
    EXPECT_EQ(d->result(), QDialog::Rejected);
    EXPECT_EQ(g.pathToChoose, m_root);
}

TEST_F(frmPathTest, TypedFolderIsGoneToAndTaken)
{
    auto d = Open();
    QLineEdit* path = Edit(*d, "txtPath");
    path->setText(m_root + "/old");
    QTest::keyClick(path, Qt::Key_Return);
    EXPECT_EQ(d->SelectedFolder(), m_root + "/old");
    EXPECT_TRUE(d->isVisible()) << "Enter in the path box only goes there";

    // Typed and confirmed directly with OK.
    path->setText(m_root + "/");
    Click(*d, "btnOK");
    EXPECT_TRUE(d->m_ok);
    EXPECT_EQ(g.pathToChoose, m_root);
}

TEST_F(frmPathTest, TypedFolderThatDoesNotExistKeepsTheDialogOpen)
{
    auto d = Open();
    QLineEdit* path = Edit(*d, "txtPath");
    path->setText(m_root + "/nowhere");
    QTest::keyClick(path, Qt::Key_Return);
    EXPECT_EQ(d->SelectedFolder(), m_root);
    EXPECT_TRUE(messages.isEmpty());

    Click(*d, "btnOK");
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0], "Could not find path '" + m_root + "/nowhere'");
    EXPECT_FALSE(d->m_ok);
    EXPECT_TRUE(d->isVisible());
    EXPECT_EQ(g.pathToChoose, m_root);
}
