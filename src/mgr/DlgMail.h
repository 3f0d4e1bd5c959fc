#pragma once
// TDlgMailP, the mail parameters dialog. It knows nothing of the file: the main window fills
// it from its MailData, runs it modally and takes the values back when it closed with OK after
// an edit (Changed). Lives for one opening, on the GUI thread.

#include "common/Config.h"

#include <QDialog>

class QComboBox;
class QGridLayout;
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

    // The protection of the connections as the fields show it (Security, Port) and the key the
    // user trusted (Trust, not shown); the other mail settings stay with the main window.
    void SetSecurity(const pelorix::TMailData& mail);
    void TakeSecurity(pelorix::TMailData& mail) const;
    // The settings as the dialog shows them, for the connection check.
    pelorix::TMailData ShownMailData() const;

    QGroupBox* Gr = nullptr;
    QLineEdit* EdServer = nullptr;
    QLineEdit* EdFrom = nullptr;
    QLineEdit* EdName = nullptr;
    QLineEdit* EdTo = nullptr;
    QLineEdit* EdCC = nullptr;
    QLineEdit* EdBCC = nullptr;
    QLineEdit* EdSubject = nullptr;
    QPlainTextEdit* EdText = nullptr;

    QComboBox* CbSecurity = nullptr; // "keine", "STARTTLS", "SSL/TLS"
    QLineEdit* EdPort = nullptr;     // empty: the usual port of the choice

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

    QPushButton* BtnCheck = nullptr; // "Verbindung prüfen"
    QPushButton* BtnOK = nullptr;
    QPushButton* BtnEsc = nullptr;

    // Set by any edit or click of an authentication mode.
    bool Changed = false;
    // [SendMail] Trust: set when the user trusts the server the check met.
    std::string Trust;
    int Pop3Port = 0;

    // OK only when every field can be stored; otherwise a warning names the fields and the
    // dialog stays open with their texts.
    void accept() override;

public slots:
    void RbAuthClick(QObject* Sender);
    void EdChange();
    // Connects (in a helper process where TLS is used), secures and logs in where credentials
    // are given, without sending a mail; an unknown certificate brings the trust question.
    void BtnCheckClick();

private:
    void ShowDefaultPort();
    void AddSecurityRow(QGridLayout* grid, int row);
};
