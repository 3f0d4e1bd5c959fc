#pragma once
// TDlgPages, the additional pages dialog: five pairs of template and result file names. The
// field of index n is "EdP" + n and its picker button "BtnOpen" + n carries the tag n. The main
// window fills the fields, lends its file-open dialog, runs the dialog modally and takes the
// names back when it closed with OK after an edit (Changed). Lives for one opening.

#include <QDialog>

class QGroupBox;
class QLineEdit;
class QPushButton;
class TOpenDialog;

class TDlgPages : public QDialog {
    Q_OBJECT
public:
    explicit TDlgPages(QWidget* parent = nullptr);

    QGroupBox* Gr = nullptr;
    QPushButton* BtnOK = nullptr;
    QPushButton* BtnEsc = nullptr;

    bool Changed = false;
    TOpenDialog* FileDialog = nullptr; // lent by the main window

    // OK only when every field can be stored; otherwise a warning names the fields and the
    // dialog stays open with their texts.
    void accept() override;

public slots:
    void EdPChange();
    void BtnOpenClick(QObject* Sender);
};
