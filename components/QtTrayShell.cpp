#include "components/QtTrayShell.h"

#include "components/TrayIcon.h"

#include <QApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QMenu>
#include <QPixmap>
#include <QPointer>
#include <QStyleHints>
#include <QTimer>

namespace vestrel {

namespace {
constexpr int kHostWatchMs = 2000;

QIcon iconOrBlank(const QIcon& icon) {
    // The tray refuses an icon without an image; an unreadable icon shows as an empty square instead.
    if (!icon.isNull())
        return icon;
    QPixmap blank(16, 16);
    blank.fill(Qt::transparent);
    return QIcon(blank);
}
} // namespace

QtTrayShell::QtTrayShell(QObject* parent)
    : QObject(parent) {
    m_hostSeen = isAvailable();
    m_hostWatch = new QTimer(this);
    m_hostWatch->setInterval(kHostWatchMs);
    connect(m_hostWatch, &QTimer::timeout, this, &QtTrayShell::pollHost);
    m_hostWatch->start();
}

QtTrayShell::~QtTrayShell() = default;

bool QtTrayShell::isAvailable() const {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void QtTrayShell::pollHost() {
    const bool available = isAvailable();
    const bool cameBack = available && !m_hostSeen;
    m_hostSeen = available;
    if (cameBack)
        TTrayIconHandler::TaskbarCreated();
}

void QtTrayShell::apply(QSystemTrayIcon& icon, const TrayNotifyData& data) {
    icon.setIcon(iconOrBlank(data.icon));
    icon.setToolTip(data.tip);
}

bool QtTrayShell::add(const TrayNotifyData& data) {
    if (!isAvailable())
        return false;
    Entry& entry = m_icons[data.uID];
    if (!entry.icon) {
        entry.icon = std::make_unique<QSystemTrayIcon>();
        const quintptr uID = data.uID;
        connect(entry.icon.get(), &QSystemTrayIcon::activated, this,
                [this, uID](QSystemTrayIcon::ActivationReason reason) { activated(uID, reason); });
        connect(entry.icon.get(), &QSystemTrayIcon::messageClicked, this,
                [this, uID] { deliverLater(uID, TrayMessage::BalloonUserClick); });
    }
    apply(*entry.icon, data);
    entry.icon->show();
    return true;
}

bool QtTrayShell::modify(const TrayNotifyData& data) {
    auto it = m_icons.find(data.uID);
    if (it == m_icons.end() || !it->second.icon)
        return false;
    QSystemTrayIcon& icon = *it->second.icon;
    apply(icon, data);
    if (data.withInfo && !data.info.isEmpty()) {
        static constexpr QSystemTrayIcon::MessageIcon kinds[] = {QSystemTrayIcon::NoIcon, QSystemTrayIcon::Information,
                                                                 QSystemTrayIcon::Warning, QSystemTrayIcon::Critical};
        const int kind = (data.infoFlags >= 0 && data.infoFlags < 4) ? data.infoFlags : 0;
        icon.showMessage(data.infoTitle, data.info, kinds[kind], data.timeoutMs);
        deliverLater(data.uID, TrayMessage::BalloonShow);
        if (data.timeoutMs > 0) {
            const quintptr uID = data.uID;
            QTimer::singleShot(data.timeoutMs, this, [this, uID] { deliverLater(uID, TrayMessage::BalloonTimeout); });
        }
    }
    return true;
}

bool QtTrayShell::remove(quintptr uID) {
    auto it = m_icons.find(uID);
    if (it == m_icons.end())
        return false;
    // Reports of this icon may already be queued; deleting later keeps their sender alive.
    QSystemTrayIcon* icon = it->second.icon.release();
    m_icons.erase(it);
    if (icon) {
        icon->hide();
        icon->deleteLater();
    }
    return true;
}

bool QtTrayShell::setVersion(quintptr uID, int version) {
    auto it = m_icons.find(uID);
    if (it == m_icons.end())
        return false;
    it->second.version = version;
    return true;
}

void QtTrayShell::activated(quintptr uID, QSystemTrayIcon::ActivationReason reason) {
    const auto it = m_icons.find(uID);
    const int version = it == m_icons.end() ? 0 : it->second.version;
    switch (reason) {
    case QSystemTrayIcon::Trigger:
        TTrayIconHandler::Deliver(uID, TrayMessage::LButtonDown);
        TTrayIconHandler::Deliver(uID, TrayMessage::LButtonUp);
        break;
    case QSystemTrayIcon::DoubleClick:
        TTrayIconHandler::Deliver(uID, TrayMessage::LButtonDblClk);
        TTrayIconHandler::Deliver(uID, TrayMessage::LButtonUp);
        break;
    case QSystemTrayIcon::Context:
        TTrayIconHandler::Deliver(uID, TrayMessage::RButtonDown);
        TTrayIconHandler::Deliver(uID, version == 0 ? TrayMessage::RButtonUp : TrayMessage::ContextMenu);
        break;
    case QSystemTrayIcon::MiddleClick:
        TTrayIconHandler::Deliver(uID, TrayMessage::MButtonDown);
        TTrayIconHandler::Deliver(uID, TrayMessage::MButtonUp);
        break;
    case QSystemTrayIcon::Unknown:
        break;
    }
}

void QtTrayShell::deliverLater(quintptr uID, TrayMessage message) {
    // Reports reach the component from the event loop, never from inside one of its own shell calls.
    QTimer::singleShot(0, this, [uID, message] { TTrayIconHandler::Deliver(uID, message); });
}

bool QtTrayShell::cursorPos(QPoint& pos) const {
    pos = QCursor::pos();
    return true;
}

Qt::KeyboardModifiers QtTrayShell::keyboardModifiers() const {
    return QGuiApplication::queryKeyboardModifiers();
}

int QtTrayShell::doubleClickTime() const {
    return QGuiApplication::styleHints()->mouseDoubleClickInterval();
}

void QtTrayShell::popupMenu(QMenu* menu, const QPoint& pos) {
    if (menu)
        menu->popup(pos);
}

TrayShell& systemTrayShell() {
    // Owned by the application object so that its tray icons go before the application does.
    static QPointer<QtTrayShell> shell;
    if (!shell)
        shell = new QtTrayShell(QCoreApplication::instance());
    return *shell;
}

} // namespace vestrel
