#include "frmAbout.h"
#include "ui_frmAbout.h"
#include "ui_frmAboutReserve.h"
#include "VelotraxVersion.h"
#include <QFont>

namespace VelotraxInfo {

QString ProgramName()
{
    return QStringLiteral("Velotrax");
}

QString ProgramVersion()
{
    return QStringLiteral(VELOTRAX_VERSION);
}

QString Purpose()
{
    return QStringLiteral("Copies files between two computers over a serial (RS-232) line.");
}

QString LicenceText()
{
    return QStringLiteral(
        "MIT License\n"
        "\n"
        "Copyright (c) 2026 the Velotrax developers\n"
        "\n"
        "Permission is hereby granted, free of charge, to any person obtaining a copy of this "
        "software and associated documentation files (the \"Software\"), to deal in the Software "
        "without restriction, including without limitation the rights to use, copy, modify, merge, "
        "publish, distribute, sublicense, and/or sell copies of the Software, and to permit persons "
        "to whom the Software is furnished to do so, subject to the following conditions:\n"
        "\n"
        "The above copyright notice and this permission notice shall be included in all copies or "
        "substantial portions of the Software.\n"
        "\n"
        "THE SOFTWARE IS PROVIDED \"AS IS\", WITHOUT WARRANTY OF ANY KIND, EXPRESS OR IMPLIED, "
        "INCLUDING BUT NOT LIMITED TO THE WARRANTIES OF MERCHANTABILITY, FITNESS FOR A PARTICULAR "
        "PURPOSE AND NONINFRINGEMENT. IN NO EVENT SHALL THE AUTHORS OR COPYRIGHT HOLDERS BE LIABLE "
        "FOR ANY CLAIM, DAMAGES OR OTHER LIABILITY, WHETHER IN AN ACTION OF CONTRACT, TORT OR "
        "OTHERWISE, ARISING FROM, OUT OF OR IN CONNECTION WITH THE SOFTWARE OR THE USE OR OTHER "
        "DEALINGS IN THE SOFTWARE.\n");
}

}  // namespace VelotraxInfo

namespace {
void MakeTitle(QLabel* label)
{
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * 1.8);
    font.setBold(true);
    label->setFont(font);
}
}  // namespace

namespace {
// What both boxes show: the title, the name and the version, and an OK button.
template <class Form>
void SetUpBox(QDialog& box, Form& ui)
{
    ui.setupUi(&box);
    box.setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    box.setWindowTitle(QStringLiteral("About ") + VelotraxInfo::ProgramName());
    ui.lblName->setText(VelotraxInfo::ProgramName());
    MakeTitle(ui.lblName);
    ui.lblVersion->setText(QStringLiteral("Version ") + VelotraxInfo::ProgramVersion());
    QObject::connect(ui.cmdOK, &QPushButton::clicked, &box, &QDialog::accept);
}
}  // namespace

frmAbout::frmAbout(QWidget* parent) : QDialog(parent), ui(std::make_unique<Ui::frmAbout>())
{
    SetUpBox(*this, *ui);
    ui->lblPurpose->setText(VelotraxInfo::Purpose());
    ui->txtLicence->setPlainText(VelotraxInfo::LicenceText());
    ui->cmdOK->setFocus();
}

frmAbout::~frmAbout() = default;

frmAboutReserve::frmAboutReserve(QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::frmAboutReserve>())
{
    SetUpBox(*this, *ui);
}

frmAboutReserve::~frmAboutReserve() = default;
