#pragma once
// The box that chooses the connection mode (the setting FTPMode): the modes this build offers,
// by their names, each holding its stored number.

#include "common/ConnectionMode.h"

class QComboBox;

void FillModeChoice(QComboBox* box);

// Selects the mode of the stored number; one the box does not hold (unknown, or not offered
// here) selects the first entry.
void ShowModeChoice(QComboBox* box, int storedNumber);

pelorix::ConnectionMode ChosenMode(const QComboBox* box);
