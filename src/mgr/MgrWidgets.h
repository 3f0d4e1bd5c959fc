#pragma once
// Small helpers the manager's windows share: the Latin-1 boundary between the core's byte
// strings and Qt's texts, and making a named control (object names are the control names,
// so tests and readers find EdHost or Btn3Start by name).

#include "mgr/ScreenFit.h"
#include "mgrcore/FieldCheck.h"

#include <QDialog>
#include <QEvent>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScreen>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <string>

inline QString FromL1(const std::string& text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

inline std::string ToL1(const QString& text) {
    return text.toLatin1().toStdString();
}

inline std::u16string_view Utf16(const QString& text) {
    return {QStringView(text).utf16(), static_cast<std::size_t>(text.size())};
}

// Whether every character of text can be stored as Latin-1 (ToL1 turns the others into "?").
inline bool IsLatin1(const QString& text) {
    return pelorix::IsLatin1(Utf16(text));
}

// The caption of the label in front of a field in its grid row, as the user reads it: without
// its colon (and what follows a colon and a blank) and with single blanks; the field's name
// when it has no label there.
inline QString FieldCaption(const QWidget* field) {
    const auto* grid =
        field->parentWidget() ? qobject_cast<QGridLayout*>(field->parentWidget()->layout()) : nullptr;
    const int index = grid ? grid->indexOf(field) : -1;
    if (index >= 0) {
        int row = 0, column = 0, rowSpan = 0, columnSpan = 0;
        grid->getItemPosition(index, &row, &column, &rowSpan, &columnSpan);
        for (int c = column - 1; c >= 0; --c) {
            const QLayoutItem* item = grid->itemAtPosition(row, c);
            const auto* label = item ? qobject_cast<const QLabel*>(item->widget()) : nullptr;
            if (!label)
                continue;
            return FromL1(pelorix::FieldCaption(ToL1(label->text().simplified())));
        }
    }
    return field->objectName();
}

// The captions of the fields of a form whose text Latin-1 cannot store.
inline QStringList NotLatin1Fields(const QWidget* form) {
    QStringList fields;
    for (const QLineEdit* edit : form->findChildren<QLineEdit*>())
        if (!IsLatin1(edit->text()))
            fields << FieldCaption(edit);
    for (const QPlainTextEdit* edit : form->findChildren<QPlainTextEdit*>())
        if (!IsLatin1(edit->toPlainText()))
            fields << FieldCaption(edit);
    return fields;
}

// The warning that names fields whose text cannot be stored.
inline QString NotLatin1Text(const QStringList& fields) {
    std::vector<std::string> captions;
    for (const QString& field : fields)
        captions.push_back(ToL1(field));
    return FromL1(pelorix::NotLatin1Text(captions));
}

template <class T> T* Make(QWidget* parent, const char* name) {
    auto* widget = new T(parent);
    widget->setObjectName(QLatin1String(name));
    return widget;
}

inline QLabel* MakeLabel(QWidget* parent, const char* name, const QString& caption) {
    auto* label = Make<QLabel>(parent, name);
    label->setTextFormat(Qt::PlainText);
    label->setText(caption);
    return label;
}

// Shows the beginning of every single-line field of a form (after setText the cursor, and so
// the view, stands at the end of a long value).
inline void ShowBeginnings(QWidget* form) {
    for (QLineEdit* edit : form->findChildren<QLineEdit*>())
        edit->setCursorPosition(0);
}

// A fixed-size dialog: a caption with a close button only, no minimise or maximise button,
// opened in the middle of the screen rather than over the main window (which may be hidden),
// no larger than the screen (a dialog with a scrolling body scrolls it then).
inline void MakeFixedDialog(QDialog* dialog) {
    dialog->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    new TScreenFitting(dialog);
}
