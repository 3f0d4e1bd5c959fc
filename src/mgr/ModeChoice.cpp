#include "mgr/ModeChoice.h"

#include "mgr/MgrWidgets.h"

#include <QComboBox>

#include <algorithm>

void FillModeChoice(QComboBox* box) {
    for (const pelorix::ConnectionMode mode : pelorix::kConnectionModes)
        if (pelorix::OfferedOnThisSystem(mode))
            box->addItem(FromL1(pelorix::ConnectionModeName(mode)), pelorix::ConnectionModeNumber(mode));
}

void ShowModeChoice(QComboBox* box, int storedNumber) {
    box->setCurrentIndex(std::max(0, box->findData(storedNumber)));
}

pelorix::ConnectionMode ChosenMode(const QComboBox* box) {
    return pelorix::ConnectionModeFromNumber(box->currentData().toInt())
        .value_or(pelorix::ConnectionMode::Plain);
}
