#pragma once
// The tray routines: one notification-area icon per (window, number), drawn from the program's
// icon resources, with a tip of at most 63 characters. Mouse events on an icon reach the owning
// window as a TTrayCallbackEvent (type kTrayCallbackMessage) carrying the Windows mouse message
// code, as the notify-icon callback message would. Each routine returns true when the icon
// operation succeeded; the manager ignores the result.
//
// Tests watch the routines through the seam: with it installed no real icon is made, every call
// is recorded and the routines answer as the platform would. GUI thread only.

#include <QEvent>
#include <QIcon>
#include <QString>
#include <vector>

class QWidget;

inline constexpr int kTrayCallbackMessage = 2024; // WM_USER + 1000
inline constexpr int kTrayLeftDoubleClick = 0x0203;
inline constexpr int kTrayRightButtonUp = 0x0205;
inline constexpr int kTrayTipMax = 63;

class TTrayCallbackEvent : public QEvent {
public:
    explicit TTrayCallbackEvent(int mouseMessage)
        : QEvent(static_cast<QEvent::Type>(kTrayCallbackMessage)), MouseMessage(mouseMessage) {}
    const int MouseMessage;
};

// Registers the program's compiled-in pictures (they live in a static library, which does not
// register them by itself). Safe to call more than once.
void InitManagerResources();

// An icon of the program's resources by its resource name ("PIC_SW", "MAINICON", ...).
QIcon LoadIconRes(const QString& name);

bool TaskbarAddIcon(QWidget* window, unsigned number, const QString& iconName, const QString& tip);
bool TaskbarModifyIcon(QWidget* window, unsigned number, const QString& iconName, const QString& tip);
bool TaskbarDeleteIcon(QWidget* window, unsigned number);

// Whether the desktop has a notification area at all.
bool TaskbarAvailable();

namespace TBProcsSeam {
enum class Op { Add, Modify, Delete };
struct Call {
    Op op;
    unsigned number;
    QString iconName;
    QString tip;
};
void Install(bool trayAvailable);
std::vector<Call>& Calls();
// The icon shown now for (window, number) and its tip; empty names when none exists.
QString CurrentIcon(QWidget* window, unsigned number);
QString CurrentTip(QWidget* window, unsigned number);
} // namespace TBProcsSeam
