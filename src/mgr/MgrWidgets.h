#pragma once
// Small helpers the manager's windows share: the Latin-1 boundary between the core's byte
// strings and Qt's texts, and making a named control (object names are the control names,
// so tests and readers find EdHost or Btn3Start by name).

#include <QLabel>
#include <QString>
#include <QWidget>
#include <string>

inline QString FromL1(const std::string& text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

inline std::string ToL1(const QString& text) {
    return text.toLatin1().toStdString();
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
