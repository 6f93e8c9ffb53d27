#pragma once
#include <QDialog>
#include <QString>
#include <functional>
#include <memory>

struct Globals;
class QFileSystemModel;
namespace Ui {
class frmPath;
}

// Folder chooser for the receive path. Starts at pathToChoose and, on OK,
// hands the selected folder back there; it saves nothing itself.
class frmPath : public QDialog {
    Q_OBJECT

public:
    explicit frmPath(Globals& g, QWidget* parent = nullptr);
    ~frmPath() override;

    // True once OK was pressed; false at every load.
    bool m_ok = false;

    // Shows an error with the critical icon. Tests replace it to capture the text.
    std::function<void(const QString& text)> showCritical;

    // Full path of the folder selected in the tree; empty when none is.
    QString SelectedFolder() const;
    // Selects an existing folder and scrolls to it; false if there is none.
    bool SelectFolder(const QString& path);

private slots:
    void CreatePath();
    void OnOk();
    void OnCancel();
    void Dir1_Change();
    void OnPathEntered();
    void Dir1_Loaded(const QString& path);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ShowSettings();

    std::unique_ptr<Ui::frmPath> ui;
    Globals& m_g;
    QFileSystemModel* m_model = nullptr;
};
