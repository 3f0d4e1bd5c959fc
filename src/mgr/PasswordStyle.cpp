#include "mgr/PasswordStyle.h"

#include <QApplication>
#include <QLineEdit>
#include <QPointer>
#include <QProxyStyle>

namespace {

// The application's style with "#" as the password character. One instance, owned by the
// application object.
class THashPasswordStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        if (hint == SH_LineEdit_PasswordCharacter)
            return '#';
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

QStyle* HashStyle() {
    static QPointer<THashPasswordStyle> style;
    if (!style) {
        style = new THashPasswordStyle;
        style->setParent(qApp);
    }
    return style;
}

} // namespace

void MakePasswordField(QLineEdit* field) {
    field->setEchoMode(QLineEdit::Password);
    field->setStyle(HashStyle());
}
