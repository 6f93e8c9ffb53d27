#include "Globals.h"
#include "frmSettGeneral.h"
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace {

struct GeneralDialog {
    explicit GeneralDialog(Globals& g) : dlg(g, [this] { ++saves; }) { dlg.show(); }
    QCheckBox* check() { return dlg.findChild<QCheckBox*>("chkWriteDebug"); }
    QLineEdit* path() { return dlg.findChild<QLineEdit*>("txtDebugf"); }
    QLineEdit* msecs() { return dlg.findChild<QLineEdit*>("txtMsecs"); }
    QCheckBox* box(const char* name) { return dlg.findChild<QCheckBox*>(name); }
    QPushButton* button(const char* name) { return dlg.findChild<QPushButton*>(name); }
    void click(const char* name) { QTest::mouseClick(button(name), Qt::LeftButton); }

    int saves = 0;
    frmSettGeneral dlg;
};

Globals Settings(bool flag, const QString& file, qint32 wait)
{
    Globals g;
    g.debugFlag = flag;
    g.debugFile = file;
    g.waitBeforeSend = wait;
    return g;
}

}  // namespace

TEST(frmSettGeneral, ShowsTheSettingsWithThePathTrimmed)
{
    Globals g = Settings(true, "  /tmp/qrn_debug.log  ", 2);
    GeneralDialog d(g);
    EXPECT_EQ(d.dlg.windowTitle(), "Settings: general");
    EXPECT_TRUE(d.check()->isChecked());
    EXPECT_EQ(d.path()->text(), "/tmp/qrn_debug.log");
    EXPECT_EQ(d.msecs()->text(), "2");

    Globals negative = Settings(false, "", -5);
    GeneralDialog n(negative);
    EXPECT_EQ(n.msecs()->text(), "-5");
}

TEST(frmSettGeneral, PathControlsAreEnabledExactlyWhileTheBoxIsTicked)
{
    Globals g = Settings(false, "/tmp/a.log", 2);
    GeneralDialog d(g);
    EXPECT_FALSE(d.path()->isEnabled());
    EXPECT_FALSE(d.button("cmdSelDebugf")->isEnabled());

    QTest::keyClick(d.check(), Qt::Key_Space);
    ASSERT_TRUE(d.check()->isChecked());
    EXPECT_TRUE(d.path()->isEnabled());
    EXPECT_TRUE(d.button("cmdSelDebugf")->isEnabled());

    QTest::keyClick(d.check(), Qt::Key_Space);
    ASSERT_FALSE(d.check()->isChecked());
    EXPECT_FALSE(d.path()->isEnabled());
    EXPECT_FALSE(d.button("cmdSelDebugf")->isEnabled());

    Globals on = Settings(true, "/tmp/a.log", 2);
    GeneralDialog e(on);
    EXPECT_TRUE(e.path()->isEnabled());
    EXPECT_TRUE(e.button("cmdSelDebugf")->isEnabled());
}

TEST(frmSettGeneral, ChooserStartsAtTheTrimmedTextAndCancelKeepsIt)
{
    Globals g = Settings(true, "/tmp/a.log", 2);
    GeneralDialog d(g);
    d.path()->setText("  /var/tmp/old.log ");
    QString offered;
    d.dlg.chooseFile = [&](QString& path) {
        offered = path;
        path = "/somewhere/else.log";  // a cancelled chooser may leave anything here
        return false;
    };
    d.click("cmdSelDebugf");
    EXPECT_EQ(offered, "/var/tmp/old.log");
    EXPECT_EQ(d.path()->text(), "  /var/tmp/old.log ");
    EXPECT_TRUE(d.dlg.isVisible());
}

TEST(frmSettGeneral, ChosenFileReplacesTheTextTrimmed)
{
    Globals g = Settings(true, "/tmp/a.log", 2);
    GeneralDialog d(g);
    d.dlg.chooseFile = [](QString& path) {
        path = " /home/user/new.log  ";
        return true;
    };
    d.click("cmdSelDebugf");
    EXPECT_EQ(d.path()->text(), "/home/user/new.log");
    EXPECT_EQ(g.debugFile, "/tmp/a.log") << "only OK stores";
}

TEST(frmSettGeneral, OkStoresFlagPathAndPauseAndSaves)
{
    Globals g = Settings(true, "/tmp/a.log", 2);
    GeneralDialog d(g);
    QTest::keyClick(d.check(), Qt::Key_Space);
    d.path()->setText("  /var/log/b.log ");
    d.msecs()->setText("abc");
    d.click("cmdOK");
    EXPECT_EQ(d.dlg.result(), QDialog::Accepted);
    EXPECT_FALSE(g.debugFlag);
    EXPECT_EQ(g.debugFile, "/var/log/b.log");
    EXPECT_EQ(g.waitBeforeSend, 0);
    EXPECT_EQ(d.saves, 1);
}

TEST(frmSettGeneral, CancelChangesNothing)
{
    Globals g = Settings(false, "/tmp/a.log", 2);
    GeneralDialog d(g);
    QTest::keyClick(d.check(), Qt::Key_Space);
    d.path()->setText("/other.log");
    d.msecs()->setText("100");
    d.click("cmdCancel");
    EXPECT_EQ(d.dlg.result(), QDialog::Rejected);
    EXPECT_FALSE(g.debugFlag);
    EXPECT_EQ(g.debugFile, "/tmp/a.log");
    EXPECT_EQ(g.waitBeforeSend, 2);
    EXPECT_EQ(d.saves, 0);
}

TEST(frmSettGeneral, ClassicAndCompressShowStoreOnOkAndCompressIsOffWhileClassic)
{
    Globals g = Settings(false, "/tmp/a.log", 2);
    g.classicOnly = true;
    g.compress = false;
    GeneralDialog d(g);
    QCheckBox* classic = d.box("chkClassic");
    QCheckBox* compress = d.box("chkCompress");
    ASSERT_TRUE(classic && compress);
    EXPECT_EQ(classic->text(), "Classic protocol only (for the original program)");
    EXPECT_EQ(compress->text(), "Compress data (zstd)");
    EXPECT_TRUE(classic->isChecked());
    EXPECT_FALSE(compress->isChecked());
    EXPECT_FALSE(compress->isEnabled());

    QTest::keyClick(classic, Qt::Key_Space);
    EXPECT_TRUE(compress->isEnabled());
    QTest::keyClick(compress, Qt::Key_Space);
    d.click("cmdOK");
    EXPECT_FALSE(g.classicOnly);
    EXPECT_TRUE(g.compress);
    EXPECT_EQ(d.saves, 1);

    GeneralDialog e(g);
    QTest::keyClick(e.box("chkClassic"), Qt::Key_Space);
    EXPECT_FALSE(e.box("chkCompress")->isEnabled());
    e.click("cmdCancel");
    EXPECT_FALSE(g.classicOnly);
}
