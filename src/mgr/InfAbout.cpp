#include "mgr/InfAbout.h"

#include "mgr/MgrWidgets.h"
#include "mgr/TBProcs.h"

#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace {

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, const QColor& colour) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    label->setTextFormat(Qt::PlainText);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
    return label;
}

} // namespace

TAboutBox::TAboutBox(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("AboutBox"));
    setWindowTitle(QStringLiteral("Programminfo"));
    auto* layout = new QVBoxLayout(this);
    auto* panel = new QFrame(this);
    panel->setObjectName(QStringLiteral("Panel"));
    panel->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    auto* grid = new QGridLayout(panel);

    auto* frame = new QFrame(panel); // the bevelled frame around the icon
    frame->setObjectName(QStringLiteral("IconFrame"));
    frame->setFrameStyle(QFrame::Panel | QFrame::Raised);
    frame->setLineWidth(2);
    auto* frameLayout = new QHBoxLayout(frame);
    ProgramIcon = new QLabel(frame);
    ProgramIcon->setObjectName(QStringLiteral("ProgramIcon"));
    ProgramIcon->setFixedSize(48, 48);
    frameLayout->addWidget(ProgramIcon);

    const QColor navy(0, 0, 128);
    ProductName = MakeLabel(panel, "ProductName", QStringLiteral("Pelorix"), navy);
    QFont big = ProductName->font();
    big.setPointSizeF(big.pointSizeF() * 2);
    big.setBold(true);
    ProductName->setFont(big);
    Version = MakeLabel(panel, "Version", QStringLiteral("Version 1.0"), Qt::gray);
    Label1 = MakeLabel(panel, "Label1", QStringLiteral("(Konsole für den Hintergrunddienst)"), navy);

    grid->addWidget(frame, 0, 0, 2, 1, Qt::AlignTop);
    grid->addWidget(ProductName, 0, 1);
    grid->addWidget(Version, 1, 1);
    grid->addWidget(Label1, 2, 0, 1, 2);
    grid->setHorizontalSpacing(16);
    layout->addWidget(panel);

    BitBtn1 = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton), QStringLiteral("OK"), this);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setDefault(true);
    connect(BitBtn1, &QPushButton::clicked, this, &QDialog::accept);
    layout->addWidget(BitBtn1, 0, Qt::AlignHCenter);

    MakeFixedDialog(this);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    FormCreate();
}

void TAboutBox::FormCreate() {
    ProgramIcon->setPixmap(LoadIconRes(QStringLiteral("MAINICON")).pixmap(48, 48));
}
