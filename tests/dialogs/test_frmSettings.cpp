#include "Globals.h"
#include "frmSettings.h"
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <gtest/gtest.h>

namespace {

struct SettingsDialog {
    explicit SettingsDialog(Globals& g, frmSettings::DeviceDescriber describe = {})
        : dlg(g, [this] { ++saves; }, nullptr, std::move(describe))
    {
        dlg.show();
    }
    QComboBox* port() { return dlg.findChild<QComboBox*>("comboPort"); }
    QComboBox* speed() { return dlg.findChild<QComboBox*>("comboSpeed"); }
    void click(const char* name) { QTest::mouseClick(dlg.findChild<QPushButton*>(name), Qt::LeftButton); }

    int saves = 0;
    frmSettings dlg;
};

Globals WithSpeeds(qint32 port, qint32 speed)
{
    Globals g;
    g.comPort = port;
    g.speed = speed;
    return g;
}

}  // namespace

TEST(frmSettings, ListsAllPortsAndSpeedsInOrder)
{
    Globals g = WithSpeeds(1, 115200);
    SettingsDialog d(g);
    EXPECT_EQ(d.dlg.windowTitle(), "Settings Velotrax");
    ASSERT_EQ(d.port()->count(), 16);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(d.port()->itemText(i), QString("COM%1").arg(i + 1));
    const QStringList speeds{"110",   "300",   "600",   "1200",  "2400",  "4800",   "9600",   "14400",
                             "19200", "28800", "38400", "56000", "57600", "115200", "128000", "256000"};
    ASSERT_EQ(d.speed()->count(), 16);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(d.speed()->itemText(i), speeds[i]);
}

TEST(frmSettings, ValuesOutsideTheListsAreStoredAsPortZeroAndSpeed110)
{
    Globals g = WithSpeeds(17, 1000);
    SettingsDialog d(g);
    EXPECT_EQ(d.port()->currentIndex(), -1);
    EXPECT_EQ(d.speed()->currentText(), "110");

    d.click("cmdOK");
    EXPECT_EQ(g.comPort, 0);
    EXPECT_EQ(g.speed, 110);
    EXPECT_EQ(d.saves, 1);
    EXPECT_EQ(d.dlg.result(), QDialog::Accepted);
    EXPECT_FALSE(d.dlg.isVisible());
}

TEST(frmSettings, PortZeroAndNegativeShowNoSelection)
{
    for (qint32 port : {0, -1}) {
        Globals g = WithSpeeds(port, 9600);
        SettingsDialog d(g);
        EXPECT_EQ(d.port()->currentIndex(), -1) << port;
    }
}

TEST(frmSettings, UntouchedOkKeepsPortAndSpeedAtBothEndsOfTheLists)
{
    const std::pair<qint32, qint32> cases[] = {{1, 110}, {3, 115200}, {16, 256000}};
    for (auto [port, speed] : cases) {
        Globals g = WithSpeeds(port, speed);
        SettingsDialog d(g);
        EXPECT_EQ(d.port()->currentText(), QString("COM%1").arg(port));
        EXPECT_EQ(d.speed()->currentText(), QString::number(speed));
        d.click("cmdOK");
        EXPECT_EQ(g.comPort, port);
        EXPECT_EQ(g.speed, speed);
        EXPECT_EQ(d.saves, 1);
    }
}

TEST(frmSettings, CancelAndClosingChangeNothing)
{
    Globals g = WithSpeeds(2, 9600);
    {
        SettingsDialog d(g);
        d.port()->setCurrentIndex(7);
        d.speed()->setCurrentIndex(0);
        d.click("cmdCancel");
        EXPECT_EQ(d.dlg.result(), QDialog::Rejected);
        EXPECT_EQ(d.saves, 0);
    }
    {
        SettingsDialog d(g);
        d.speed()->setEditText("4800");
        d.dlg.close();
        EXPECT_EQ(d.saves, 0);
    }
    EXPECT_EQ(g.comPort, 2);
    EXPECT_EQ(g.speed, 9600);
}

TEST(frmSettings, ChangedSelectionIsStored)
{
    Globals g = WithSpeeds(1, 115200);
    SettingsDialog d(g);
    d.port()->setCurrentIndex(4);
    d.speed()->setCurrentIndex(6);
    d.click("cmdOK");
    EXPECT_EQ(g.comPort, 5);
    EXPECT_EQ(g.speed, 9600);
}

TEST(frmSettings, TypedSpeedIsTakenAndEnterConfirms)
{
    Globals g = WithSpeeds(1, 115200);
    SettingsDialog d(g);
    QLineEdit* edit = d.speed()->lineEdit();
    ASSERT_NE(edit, nullptr);
    edit->selectAll();
    QTest::keyClicks(edit, "500000");
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_EQ(d.dlg.result(), QDialog::Accepted);
    EXPECT_EQ(g.speed, 500000);
    EXPECT_EQ(d.saves, 1);
    EXPECT_EQ(d.speed()->count(), 16) << "a typed speed must not join the list";
}

TEST(frmSettings, DeviceLabelFollowsThePortSelection)
{
    Globals g = WithSpeeds(2, 9600);
    SettingsDialog d(g, [](int n) { return QString("device of %1").arg(n); });
    auto* label = d.dlg.findChild<QLabel*>("lblDevice");
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->text(), "device of 2");
    d.port()->setCurrentIndex(15);
    EXPECT_EQ(label->text(), "device of 16");
    d.port()->setCurrentIndex(-1);
    EXPECT_EQ(label->text(), "");
}

#ifndef Q_OS_WIN
TEST(frmSettings, DefaultDeviceIsTheLinkBesideTheProgramOrTtyS)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString target = dir.filePath("realdevice");
    QFile f(target);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    ASSERT_TRUE(QFile::link(target, dir.filePath("COM1")));
    ASSERT_TRUE(QFile::link("/dev/ttyUSB7", dir.filePath("COM2")));
    QFile plain(dir.filePath("COM3"));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();

    EXPECT_EQ(frmSettings::DefaultDeviceDescription(dir.path(), 1), target);
    EXPECT_EQ(frmSettings::DefaultDeviceDescription(dir.path(), 2), "/dev/ttyUSB7 (missing)");
    EXPECT_EQ(frmSettings::DefaultDeviceDescription(dir.path(), 3), dir.filePath("COM3"));
    EXPECT_EQ(frmSettings::DefaultDeviceDescription(dir.path(), 4), "/dev/ttyS3");
    EXPECT_EQ(frmSettings::DefaultDeviceDescription(dir.path(), 16), "/dev/ttyS15");

    // Without a describer the dialog uses this one over the program folder.
    Globals g = WithSpeeds(1, 9600);
    g.programDir = dir.path();
    SettingsDialog d(g);
    auto* label = d.dlg.findChild<QLabel*>("lblDevice");
    EXPECT_EQ(label->text(), target);
    d.port()->setCurrentIndex(9);
    EXPECT_EQ(label->text(), "/dev/ttyS9");
    // It also says where the COMn links belong.
    EXPECT_EQ(d.dlg.findChild<QLabel*>("lblSettingsFolder")->text(), "Settings folder: " + dir.path());
}
#endif

TEST(frmSettings, BindsTheChosenNumberToTheSelectedPortOnlyOnOk)
{
    const auto rows = [] {
        return QList<QStringList>{{"Device", "Maker"}, {"/dev/ttyUSB0", "FTDI"}, {"/dev/ttyACM0", "Arduino"}};
    };
    QList<QPair<int, QString>> bound;
    QString refusal;
    const auto bind = [&](int n, const QString& device, QString& why) {
        why = refusal;
        if (refusal.isEmpty())
            bound << qMakePair(n, device);
        return refusal.isEmpty();
    };
    const auto choose = [](SettingsDialog& d) {
        auto* tree = d.dlg.findChild<QTreeWidget*>("treePorts");
        EXPECT_EQ(tree->topLevelItemCount(), 2);
        tree->setCurrentItem(tree->topLevelItem(1));
        d.port()->setCurrentIndex(2);
        d.click("cmdBind");
        return d.dlg.findChild<QLabel*>("lblDevice")->text();
    };

    Globals g = WithSpeeds(1, 9600);
    {
        SettingsDialog cancelled(g, [](int) { return QString("somewhere"); });
        cancelled.dlg.SetPortList(rows, bind);
        EXPECT_EQ(choose(cancelled), "/dev/ttyACM0 (from OK on)");
        cancelled.click("cmdCancel");
        EXPECT_TRUE(bound.isEmpty());
    }
    {
        refusal = "read-only folder";
        SettingsDialog refused(g, [](int) { return QString("somewhere"); });
        refused.dlg.SetPortList(rows, bind);
        choose(refused);
        refused.click("cmdOK");
        EXPECT_TRUE(refused.dlg.isVisible());
        EXPECT_EQ(refused.saves, 0);
        EXPECT_EQ(refused.dlg.findChild<QLabel*>("lblDevice")->text(), "Could not bind COM3: read-only folder");

        refusal.clear();
        refused.click("cmdOK");
        EXPECT_EQ(bound, (QList<QPair<int, QString>>{{3, "/dev/ttyACM0"}}));
        EXPECT_EQ(refused.saves, 1);
        EXPECT_EQ(g.comPort, 3);
    }
}
