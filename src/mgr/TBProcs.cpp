#include "mgr/TBProcs.h"

#include <QCoreApplication>
#include <QFile>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QWidget>
#include <map>

namespace {

struct IconState {
    QPointer<QSystemTrayIcon> icon; // null under the seam
    QString iconName;
    QString tip;
};

using Key = std::pair<const QWidget*, unsigned>;

struct Registry {
    bool seamInstalled = false;
    bool seamTrayAvailable = false;
    std::vector<TBProcsSeam::Call> calls;
    std::map<Key, IconState> icons;
};

Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

// The notify-icon record holds the number as a 16-bit value and 63 tip characters.
Key KeyOf(const QWidget* window, unsigned number) {
    return {window, number % 65536u};
}
QString CutTip(const QString& tip) {
    return tip.left(kTrayTipMax);
}

void Record(TBProcsSeam::Op op, unsigned number, const QString& iconName, const QString& tip) {
    if (TheRegistry().seamInstalled)
        TheRegistry().calls.push_back({op, number % 65536u, iconName, tip});
}

// Forwards the icon's mouse events to the owning window as its callback message.
void ConnectCallback(QSystemTrayIcon* icon, QWidget* window) {
    QPointer<QWidget> target(window);
    QObject::connect(icon, &QSystemTrayIcon::activated, icon,
                     [target](QSystemTrayIcon::ActivationReason reason) {
                         if (!target)
                             return;
                         int message = 0;
                         if (reason == QSystemTrayIcon::DoubleClick)
                             message = kTrayLeftDoubleClick;
                         else if (reason == QSystemTrayIcon::Context)
                             message = kTrayRightButtonUp;
                         else
                             return;
                         QCoreApplication::postEvent(target, new TTrayCallbackEvent(message));
                     });
}

} // namespace

void InitManagerResources() {
    static const bool registered = [] {
        Q_INIT_RESOURCE(PelorixMgr);
        return true;
    }();
    (void)registered;
}

QIcon LoadIconRes(const QString& name) {
    InitManagerResources();
    QIcon icon;
    for (const int size : {16, 32, 48}) {
        const QString path = QStringLiteral(":/icons/%1_%2.png").arg(name).arg(size);
        if (QFile::exists(path))
            icon.addFile(path, QSize(size, size));
    }
    const QString single = QStringLiteral(":/icons/%1.png").arg(name);
    if (icon.isNull() && QFile::exists(single))
        icon.addFile(single);
    return icon;
}

bool TaskbarAvailable() {
    if (TheRegistry().seamInstalled)
        return TheRegistry().seamTrayAvailable;
    return QSystemTrayIcon::isSystemTrayAvailable();
}

bool TaskbarAddIcon(QWidget* window, unsigned number, const QString& iconName, const QString& tip) {
    Registry& registry = TheRegistry();
    Record(TBProcsSeam::Op::Add, number, iconName, CutTip(tip));
    const Key key = KeyOf(window, number);
    if (!window || registry.icons.count(key) || !TaskbarAvailable())
        return false;
    IconState state{nullptr, iconName, CutTip(tip)};
    if (!registry.seamInstalled) {
        state.icon =
            new QSystemTrayIcon(LoadIconRes(iconName), window); // freed with the window at the latest
        state.icon->setToolTip(state.tip);
        ConnectCallback(state.icon, window);
        state.icon->show();
    }
    registry.icons[key] = state;
    // A window that goes away takes its icon with it.
    QObject::connect(window, &QObject::destroyed, [key] { TheRegistry().icons.erase(key); });
    return true;
}

bool TaskbarModifyIcon(QWidget* window, unsigned number, const QString& iconName, const QString& tip) {
    Registry& registry = TheRegistry();
    Record(TBProcsSeam::Op::Modify, number, iconName, CutTip(tip));
    const auto found = registry.icons.find(KeyOf(window, number));
    if (found == registry.icons.end())
        return false;
    found->second.iconName = iconName;
    found->second.tip = CutTip(tip);
    if (found->second.icon) {
        found->second.icon->setIcon(LoadIconRes(iconName));
        found->second.icon->setToolTip(found->second.tip);
    }
    return true;
}

bool TaskbarDeleteIcon(QWidget* window, unsigned number) {
    Registry& registry = TheRegistry();
    Record(TBProcsSeam::Op::Delete, number, QString(), QString());
    const auto found = registry.icons.find(KeyOf(window, number));
    if (found == registry.icons.end())
        return false;
    if (found->second.icon) {
        found->second.icon->hide();
        delete found->second.icon.data();
    }
    registry.icons.erase(found);
    return true;
}

namespace TBProcsSeam {

void Install(bool trayAvailable) {
    TheRegistry().seamInstalled = true;
    TheRegistry().seamTrayAvailable = trayAvailable;
}

std::vector<Call>& Calls() {
    return TheRegistry().calls;
}

QString CurrentIcon(QWidget* window, unsigned number) {
    const auto found = TheRegistry().icons.find(KeyOf(window, number));
    return found == TheRegistry().icons.end() ? QString() : found->second.iconName;
}

QString CurrentTip(QWidget* window, unsigned number) {
    const auto found = TheRegistry().icons.find(KeyOf(window, number));
    return found == TheRegistry().icons.end() ? QString() : found->second.tip;
}

} // namespace TBProcsSeam
