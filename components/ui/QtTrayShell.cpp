#include "components/ui/QtTrayShell.h"

#include "components/ui/TrayIcon.h"
#include "components/ui/X11Atoms.h"

#include <QApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QMenu>
#include <QPixmap>
#include <QPointer>
#include <QStyleHints>
#include <QTimer>
#include <QWidget>

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
    const bool wentAway = !available && m_hostSeen;
    m_hostSeen = available;
    if (cameBack)
        TTrayIconHandler::TaskbarCreated();
    if (wentAway)
        TTrayIconHandler::TrayHostLost();
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
        connect(entry.icon.get(), &QSystemTrayIcon::messageClicked, this, [this, uID] {
            // A clicked balloon is gone: no time-out follows for it.
            if (const auto found = m_icons.find(uID); found != m_icons.end()) {
                if (found->second.balloonTimer)
                    found->second.balloonTimer->stop();
                found->second.balloonShowing = false;
            }
            deliverLater(uID, TrayMessage::BalloonUserClick);
        });
    }
    apply(*entry.icon, data);
    entry.icon->show();
    return true;
}

bool QtTrayShell::modify(const TrayNotifyData& data) {
    auto it = m_icons.find(data.uID);
    if (it == m_icons.end() || !it->second.icon)
        return false;
    Entry& entry = it->second;
    QSystemTrayIcon& icon = *entry.icon;
    apply(icon, data);
    if (!data.withInfo)
        return true;
    // A new balloon or a clear ends the one showing: it is reported hidden, never timed out later.
    endBalloon(data.uID, entry, TrayMessage::BalloonHide);
    if (data.info.isEmpty()) {
        // An empty message takes the showing balloon down without showing another.
        icon.showMessage(QString(), QString(), QSystemTrayIcon::NoIcon, 0);
        return true;
    }
    static constexpr QSystemTrayIcon::MessageIcon kinds[] = {QSystemTrayIcon::NoIcon, QSystemTrayIcon::Information,
                                                             QSystemTrayIcon::Warning, QSystemTrayIcon::Critical};
    const int kind = (data.infoFlags >= 0 && data.infoFlags < 4) ? data.infoFlags : 0;
    icon.showMessage(data.infoTitle, data.info, kinds[kind], data.timeoutMs);
    entry.balloonShowing = true;
    deliverLater(data.uID, TrayMessage::BalloonShow);
    if (data.timeoutMs > 0) {
        if (!entry.balloonTimer) {
            entry.balloonTimer = std::make_unique<QTimer>();
            entry.balloonTimer->setSingleShot(true);
            const quintptr uID = data.uID;
            connect(entry.balloonTimer.get(), &QTimer::timeout, this, [this, uID] {
                const auto found = m_icons.find(uID);
                if (found == m_icons.end() || !found->second.balloonShowing)
                    return;
                found->second.balloonShowing = false;
                deliverLater(uID, TrayMessage::BalloonTimeout);
            });
        }
        entry.balloonTimer->start(data.timeoutMs);
    }
    return true;
}

void QtTrayShell::endBalloon(quintptr uID, Entry& entry, TrayMessage report) {
    if (entry.balloonTimer)
        entry.balloonTimer->stop();
    if (!entry.balloonShowing)
        return;
    entry.balloonShowing = false;
    deliverLater(uID, report);
}

bool QtTrayShell::remove(quintptr uID) {
    auto it = m_icons.find(uID);
    if (it == m_icons.end())
        return false;
    endBalloon(uID, it->second, TrayMessage::BalloonHide);
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

bool QtTrayShell::setTaskbarButtonVisible(QWidget* window, bool visible) {
#ifdef VESTREL_HAVE_XCB
    xcb_connection_t* connection = window && window->isVisible() ? x11::connection() : nullptr;
    if (!connection)
        return false;
    const xcb_atom_t state = x11::internAtom(connection, "_NET_WM_STATE");
    const xcb_atom_t skipTaskbar = x11::internAtom(connection, "_NET_WM_STATE_SKIP_TASKBAR");
    if (state == XCB_ATOM_NONE || skipTaskbar == XCB_ATOM_NONE)
        return false;
    // A mapped window asks the window manager to change its state: add (1) or remove (0) the skip.
    xcb_client_message_event_t event;
    std::memset(&event, 0, sizeof event);
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = xcb_window_t(window->winId());
    event.type = state;
    event.data.data32[0] = visible ? 0 : 1;
    event.data.data32[1] = skipTaskbar;
    event.data.data32[3] = 1; // a normal application asks
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    xcb_send_event(connection, 0, root, XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                   reinterpret_cast<const char*>(&event));
    xcb_flush(connection);
    return true;
#else
    Q_UNUSED(window);
    Q_UNUSED(visible);
    return false;
#endif
}

TrayShell& systemTrayShell() {
    // Owned by the application object so that its tray icons go before the application does.
    static QPointer<QtTrayShell> shell;
    if (!shell)
        shell = new QtTrayShell(QCoreApplication::instance());
    return *shell;
}

} // namespace vestrel
