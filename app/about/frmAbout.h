#pragma once
#include <QDialog>
#include <QString>
#include <memory>

namespace Ui {
class frmAbout;
class frmAboutReserve;
}

// The program's name and version, as the window title and about boxes show them.
namespace VelotraxInfo {
QString ProgramName();     // "Velotrax"
QString ProgramVersion();  // from project() in CMakeLists.txt
QString Purpose();
QString LicenceText();
}  // namespace VelotraxInfo

// Name, version, what the program does, and the licence.
class frmAbout : public QDialog {
    Q_OBJECT

public:
    explicit frmAbout(QWidget* parent = nullptr);
    ~frmAbout() override;

private:
    std::unique_ptr<Ui::frmAbout> ui;
};

// The plain fallback, shown when frmAbout cannot be: name and version only.
class frmAboutReserve : public QDialog {
    Q_OBJECT

public:
    explicit frmAboutReserve(QWidget* parent = nullptr);
    ~frmAboutReserve() override;

private:
    std::unique_ptr<Ui::frmAboutReserve> ui;
};
