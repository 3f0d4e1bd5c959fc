#pragma once
// TAboutBox, the program information box, shown modally by the main window's BtnInfoClick.

#include <QDialog>

class QLabel;
class QPushButton;

class TAboutBox : public QDialog {
    Q_OBJECT
public:
    explicit TAboutBox(QWidget* parent = nullptr);

    QLabel* ProgramIcon = nullptr;
    QLabel* ProductName = nullptr;
    QLabel* Version = nullptr;
    QLabel* Label1 = nullptr;
    QPushButton* BitBtn1 = nullptr;

private:
    void FormCreate();
};
