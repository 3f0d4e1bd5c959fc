#pragma once
// TDlgMailP, the mail parameters dialog. It knows nothing of the file: the main window fills
// it from its MailData, runs it modally and takes the values back when it closed with OK after
// an edit (Changed). Lives for one opening, on the GUI thread.

#include <QDialog>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;

class TDlgMailP : public QDialog {
    Q_OBJECT
public:
    explicit TDlgMailP(QWidget* parent = nullptr);

    // The mail text with CR LF between its lines.
    void SetMailText(const QString& text);
    QString MailText() const;

    QGroupBox* Gr = nullptr;
    QLineEdit* EdServer = nullptr;
    QLineEdit* EdFrom = nullptr;
    QLineEdit* EdName = nullptr;
    QLineEdit* EdTo = nullptr;
    QLineEdit* EdCC = nullptr;
    QLineEdit* EdBCC = nullptr;
    QLineEdit* EdSubject = nullptr;
    QPlainTextEdit* EdText = nullptr;

    QGroupBox* GrAuth = nullptr;
    QRadioButton* RbAuth0 = nullptr;
    QRadioButton* RbAuthP = nullptr;
    QRadioButton* RbAuthA = nullptr;
    QLabel* LabPop3 = nullptr;
    QLineEdit* EdPop3 = nullptr;
    QLabel* LabID = nullptr;
    QLineEdit* EdID = nullptr;
    QLabel* LabPW = nullptr;
    QLineEdit* EdPw = nullptr;

    QPushButton* BtnOK = nullptr;
    QPushButton* BtnEsc = nullptr;

    // Set by any edit or click of an authentication mode.
    bool Changed = false;

    // OK only when every field can be stored; otherwise a warning names the fields and the
    // dialog stays open with their texts.
    void accept() override;

public slots:
    void RbAuthClick(QObject* Sender);
    void EdChange();
};
