#include "mgr/DlgPage.h"

#include "mgr/MgrWidgets.h"
#include "mgr/MsgBox.h"

#include "mgr/OpenDialog.h"

#include <QDialogButtonBox>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

TDlgPages::TDlgPages(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("DlgPages"));
    setWindowTitle(QStringLiteral("Pelorix - zusätzliche Seitengenerierung"));
    auto* layout = new QVBoxLayout(this);
    // The form scrolls when the screen is too small for it; the buttons stay below it.
    auto* body = new TScrollingBody(this);
    auto* panel = new QFrame(body);
    panel->setObjectName(QStringLiteral("Panel"));
    panel->setFrameStyle(QFrame::StyledPanel | QFrame::Raised);
    auto* panelLayout = new QVBoxLayout(panel);
    Gr = new QGroupBox(QStringLiteral("IP-Adresse auch in folgende Dokumente einsetzen"), panel);
    Gr->setObjectName(QStringLiteral("Gr"));
    auto* grid = new QGridLayout(Gr);

    QLineEdit* fields[10] = {};
    QToolButton* buttons[10] = {};
    // Rows pair by pair: template n, then its result n + 5.
    for (int pair = 0; pair < 5; ++pair) {
        for (int half = 0; half < 2; ++half) {
            const int n = pair + half * 5;
            const int row = pair * 2 + half;
            const QString caption = half == 0 ? QStringLiteral("Vorlage %1:").arg(pair + 1)
                                              : QStringLiteral("Ergebnis%1:").arg(pair + 1);
            auto* label = new QLabel(caption, Gr);
            label->setObjectName(QStringLiteral("LabP%1").arg(n));
            fields[n] = new QLineEdit(Gr);
            fields[n]->setObjectName(QStringLiteral("EdP%1").arg(n));
            fields[n]->setMinimumWidth(320);
            buttons[n] = new QToolButton(Gr);
            buttons[n]->setObjectName(QStringLiteral("BtnOpen%1").arg(n));
            buttons[n]->setProperty("tag", n);
            buttons[n]->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
            grid->addWidget(label, row, 0);
            grid->addWidget(fields[n], row, 1);
            grid->addWidget(buttons[n], row, 2);
            connect(fields[n], &QLineEdit::textChanged, this, &TDlgPages::EdPChange);
            QToolButton* button = buttons[n];
            connect(button, &QToolButton::clicked, this, [this, button] { BtnOpenClick(button); });
        }
    }
    grid->setColumnStretch(1, 1);
    panelLayout->addWidget(Gr);
    body->setWidget(panel);
    layout->addWidget(body);

    auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    BtnOK = box->button(QDialogButtonBox::Ok);
    BtnOK->setObjectName(QStringLiteral("BtnOK"));
    BtnEsc = box->button(QDialogButtonBox::Cancel);
    BtnEsc->setObjectName(QStringLiteral("BtnEsc"));
    connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(box);

    // Through the templates first, then the results.
    for (int n = 0; n + 1 < 10; ++n)
        setTabOrder(fields[n], fields[n + 1]);
    setTabOrder(fields[9], buttons[0]);
    for (int n = 0; n + 1 < 10; ++n)
        setTabOrder(buttons[n], buttons[n + 1]);

    MakeFixedDialog(this);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void TDlgPages::EdPChange() {
    Changed = true;
}

void TDlgPages::BtnOpenClick(QObject* Sender) {
    auto* field = findChild<QLineEdit*>(QStringLiteral("EdP%1").arg(Sender->property("tag").toInt()));
    if (!field || !FileDialog)
        return;
    FileDialog->FileName = field->text();
    if (FileDialog->Execute(this)) {
        field->setText(FileDialog->FileName);
        field->setCursorPosition(0);
    }
}

void TDlgPages::accept() {
    const QStringList refused = NotLatin1Fields(this);
    if (!refused.isEmpty()) {
        MsgBox::Warning(NotLatin1Text(refused));
        return;
    }
    QDialog::accept();
}
