#include "frmAbout.h"
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

TEST(AboutBoxes, ShowNameVersionPurposeAndLicence)
{
    frmAbout about;
    about.show();
    EXPECT_EQ(about.findChild<QLabel*>("lblName")->text(), "Velotrax");
    EXPECT_EQ(about.findChild<QLabel*>("lblVersion")->text(), "Version 1.00");
    EXPECT_FALSE(about.findChild<QLabel*>("lblPurpose")->text().isEmpty());
    const QString licence = about.findChild<QPlainTextEdit*>("txtLicence")->toPlainText();
    EXPECT_TRUE(licence.startsWith("MIT License"));
    EXPECT_TRUE(licence.contains("Copyright (c) 2026 the Velotrax developers"));
    EXPECT_TRUE(about.findChild<QPlainTextEdit*>("txtLicence")->isReadOnly());
    QTest::mouseClick(about.findChild<QPushButton*>("cmdOK"), Qt::LeftButton);
    EXPECT_EQ(about.result(), QDialog::Accepted);
}

TEST(AboutBoxes, ReserveShowsNameAndVersion)
{
    frmAboutReserve reserve;
    reserve.show();
    EXPECT_EQ(reserve.findChild<QLabel*>("lblName")->text(), "Velotrax");
    EXPECT_EQ(reserve.findChild<QLabel*>("lblVersion")->text(), "Version 1.00");
    QTest::mouseClick(reserve.findChild<QPushButton*>("cmdOK"), Qt::LeftButton);
    EXPECT_EQ(reserve.result(), QDialog::Accepted);
}
