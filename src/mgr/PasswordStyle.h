#pragma once
// Password fields of the manager show "#" for each character.

class QLineEdit;

// Makes the field a password field whose characters are drawn as "#".
void MakePasswordField(QLineEdit* field);
