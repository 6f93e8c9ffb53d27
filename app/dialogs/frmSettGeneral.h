#pragma once
#include <QDialog>
#include <QString>
#include <functional>
#include <memory>

struct Globals;
namespace Ui {
class frmSettGeneral;
}

// Debug log switch and path, the pause before each send, and the protocol
// mode and compression between two copies. Changes reach
// the settings only on OK, which also saves them through the callback.
class frmSettGeneral : public QDialog {
    Q_OBJECT

public:
    frmSettGeneral(Globals& g, std::function<void()> publSaveSettings, QWidget* parent = nullptr);
    ~frmSettGeneral() override;

    // Asks for the debug file, starting at path; false when the user cancels.
    // Tests replace it; the default is a save-style file dialog.
    std::function<bool(QString& path)> chooseFile;

private slots:
    void OnWriteDebugToggled();
    void OnClassicToggled();
    void ChooseDebugFile();
    void OnOk();
    void OnCancel();

private:
    void ShowSettings();
    bool ChooseWithFileDialog(QString& path);

    std::unique_ptr<Ui::frmSettGeneral> ui;
    Globals& m_g;
    std::function<void()> m_publSaveSettings;
};
