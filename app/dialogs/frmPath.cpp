#include "frmPath.h"
#include "CommonRoutines.h"
#include "Fso.h"
#include "Globals.h"
#include "ui_frmPath.h"
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QKeyEvent>
#include <QMessageBox>

namespace {
QString CleanAbsolute(const QString& path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}
}  // namespace

frmPath::frmPath(Globals& g, QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::frmPath>()), m_g(g)
{
    ui->setupUi(this);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    showCritical = [this](const QString& text) {
        QMessageBox::critical(this, QStringLiteral("Velotrax"), text);
    };

    // Folders only; on Windows the top level lists the drives, so no drive list is needed.
    m_model = new QFileSystemModel(this);
    m_model->setFilter(QDir::AllDirs | QDir::Drives | QDir::NoDotAndDotDot);
#ifdef Q_OS_WIN
    m_model->setRootPath(QString());
#else
    m_model->setRootPath(QStringLiteral("/"));
#endif
    ui->Dir1->setModel(m_model);
    for (int column = 1; column < m_model->columnCount(); ++column)
        ui->Dir1->hideColumn(column);

    // Enter in a text box acts on that box instead of closing the dialog.
    ui->txtCreatePath->installEventFilter(this);
    ui->txtPath->installEventFilter(this);

    connect(ui->Dir1->selectionModel(), &QItemSelectionModel::currentChanged, this, &frmPath::Dir1_Change);
    connect(m_model, &QFileSystemModel::directoryLoaded, this, &frmPath::Dir1_Loaded);
    connect(ui->btnCreatePath, &QPushButton::clicked, this, &frmPath::CreatePath);
    connect(ui->btnOK, &QPushButton::clicked, this, &frmPath::OnOk);
    connect(ui->btnCancel, &QPushButton::clicked, this, &frmPath::OnCancel);

    ShowSettings();
}

frmPath::~frmPath() = default;

void frmPath::ShowSettings()
{
    m_ok = false;
    // A folder that no longer exists leaves the tree at the home folder.
    if (m_g.pathToChoose.isEmpty() || !SelectFolder(m_g.pathToChoose))
        SelectFolder(QDir::homePath());
    ui->Dir1->setFocus();
}

QString frmPath::SelectedFolder() const
{
    const QModelIndex index = ui->Dir1->currentIndex();
    if (!index.isValid())
        return QString();
    return QDir::toNativeSeparators(m_model->filePath(index));
}

bool frmPath::SelectFolder(const QString& path)
{
    if (!FolderExists(path))
        return false;
    const QModelIndex index = m_model->index(CleanAbsolute(path));
    if (!index.isValid())
        return false;
    for (QModelIndex up = index.parent(); up.isValid(); up = up.parent())
        ui->Dir1->expand(up);
    ui->Dir1->setCurrentIndex(index);
    ui->Dir1->scrollTo(index, QAbstractItemView::PositionAtCenter);
    return true;
}

void frmPath::Dir1_Change()
{
    ui->txtPath->setText(SelectedFolder());
}

void frmPath::Dir1_Loaded(const QString& path)
{
    // Folders fill in the background and push the selection down as they do;
    // keep it in view while the folders above it are still being read.
    const QModelIndex current = ui->Dir1->currentIndex();
    if (!current.isValid())
        return;
    const QString selected = m_model->filePath(current);
    const QString loaded = QDir::cleanPath(path);
    if (selected == loaded || selected.startsWith(loaded.endsWith(u'/') ? loaded : loaded + u'/'))
        ui->Dir1->scrollTo(current, QAbstractItemView::PositionAtCenter);
}

void frmPath::OnPathEntered()
{
    const QString typed = TrimBlanks(ui->txtPath->text());
    if (typed.isEmpty() || !SelectFolder(typed))
        QApplication::beep();
}

void frmPath::CreatePath()
{
    const QString name = TrimBlanks(ui->txtCreatePath->text());
    ui->txtCreatePath->setText(name);
    if (name.isEmpty())
        return;
    const QString parentFolder = SelectedFolder();
    const QString newFolder = BuildPath(parentFolder, name);
    // One level only: the parent must exist, and an existing folder counts as a failure.
    if (parentFolder.isEmpty() || !QDir().mkdir(newFolder)) {
        showCritical(QStringLiteral("Could not create path '") + newFolder + QStringLiteral("'"));
        return;
    }
    SelectFolder(newFolder);
}

void frmPath::OnOk()
{
    // A folder typed into the path box but not yet gone to is taken as well.
    const QString typed = TrimBlanks(ui->txtPath->text());
    if (!typed.isEmpty() && typed != SelectedFolder() && !SelectFolder(typed)) {
        showCritical(QStringLiteral("Could not find path '") + typed + QStringLiteral("'"));
        ui->txtPath->setFocus();
        return;
    }
    m_ok = true;
    m_g.pathToChoose = SelectedFolder();
    accept();
}

void frmPath::OnCancel()
{
    reject();
}

bool frmPath::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            if (watched == ui->txtCreatePath) {
                CreatePath();
                return true;
            }
            if (watched == ui->txtPath) {
                OnPathEntered();
                return true;
            }
        }
    }
    return QDialog::eventFilter(watched, event);
}
