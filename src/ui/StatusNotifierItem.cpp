#include "ui/StatusNotifierItem.h"

#include "ui/StatusNotifierAdaptors.h"
#include "ui/StatusNotifierMenu.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QImage>
#include <QtEndian>

namespace hushwell {
namespace {

constexpr QLatin1String kWatcherService("org.kde.StatusNotifierWatcher");
constexpr QLatin1String kWatcherPath("/StatusNotifierWatcher");
constexpr QLatin1String kItemPath("/StatusNotifierItem");

}  // namespace

QDBusArgument& operator<<(QDBusArgument& out, const StatusNotifierItem::Pixmap& pixmap) {
    out.beginStructure();
    out << pixmap.width << pixmap.height << pixmap.argb;
    out.endStructure();
    return out;
}

const QDBusArgument& operator>>(const QDBusArgument& in, StatusNotifierItem::Pixmap& pixmap) {
    in.beginStructure();
    in >> pixmap.width >> pixmap.height >> pixmap.argb;
    in.endStructure();
    return in;
}

QDBusArgument& operator<<(QDBusArgument& out, const StatusNotifierItem::ToolTip& tip) {
    out.beginStructure();
    out << tip.iconName << tip.icon << tip.title << tip.description;
    out.endStructure();
    return out;
}

const QDBusArgument& operator>>(const QDBusArgument& in, StatusNotifierItem::ToolTip& tip) {
    in.beginStructure();
    in >> tip.iconName >> tip.icon >> tip.title >> tip.description;
    in.endStructure();
    return in;
}

StatusNotifierItem::StatusNotifierItem(const QString& title, QMenu& menu, QObject* parent)
    : QObject(parent), m_title(title) {
    qDBusRegisterMetaType<Pixmap>();
    qDBusRegisterMetaType<QList<Pixmap>>();
    qDBusRegisterMetaType<StatusNotifierItem::ToolTip>();
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return;
    }
    static int made = 0;
    m_service = QStringLiteral("org.kde.StatusNotifierItem-%1-%2")
                    .arg(QCoreApplication::applicationPid())
                    .arg(++made);
    m_adaptor = new StatusNotifierAdaptor(this);
    m_onBus = bus.registerService(m_service) && bus.registerObject(kItemPath, this);
    if (!m_onBus) {
        return;
    }
    m_menu = new StatusNotifierMenu(menu, this);
    // Every change of the watcher's owner: a panel that comes, goes, or restarts.
    m_watcher = new QDBusServiceWatcher(kWatcherService, bus,
                                        QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(m_watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& owner) {
                if (owner.isEmpty()) {
                    ++m_offers;
                    setRegistered(false);
                } else {
                    offerToWatcher();
                }
            });
    if (watcherPresent()) {
        offerToWatcher();
    }
}

StatusNotifierItem::~StatusNotifierItem() {
    if (m_onBus) {
        QDBusConnection bus = QDBusConnection::sessionBus();
        bus.unregisterObject(kItemPath);
        bus.unregisterService(m_service);
    }
}

// Without an exported menu the panel calls ContextMenu, and the program shows its own.
QString StatusNotifierItem::menuPath() const {
    return m_menu != nullptr && m_menu->onBus() ? QString(StatusNotifierMenu::kPath)
                                                : QStringLiteral("/NO_DBUSMENU");
}

bool StatusNotifierItem::watcherPresent() const {
    const QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
    return m_onBus && bus != nullptr && bus->isServiceRegistered(kWatcherService).value();
}

void StatusNotifierItem::offerToWatcher() {
    QDBusMessage call =
        QDBusMessage::createMethodCall(kWatcherService, kWatcherPath, kWatcherService,
                                       QStringLiteral("RegisterStatusNotifierItem"));
    call << m_service;
    const quint64 offer = ++m_offers;
    auto* answer = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call), this);
    connect(answer, &QDBusPendingCallWatcher::finished, this,
            [this, offer](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                // Told even where nothing changed: an icon waiting for the answer goes elsewhere.
                if (offer == m_offers) {
                    m_registered = !finished->isError();
                    emit registeredChanged(m_registered);
                }
            });
}

void StatusNotifierItem::setRegistered(bool registered) {
    if (registered != m_registered) {
        m_registered = registered;
        emit registeredChanged(registered);
    }
}

void StatusNotifierItem::setIcon(const QIcon& icon) {
    m_pixmaps.clear();
    for (const int size : kIconSizes) {
        const QImage image =
            icon.pixmap(QSize(size, size), 1.0).toImage().convertToFormat(QImage::Format_ARGB32);
        Pixmap pixmap{image.width(), image.height(), {}};
        pixmap.argb.resize(qsizetype(image.width()) * image.height() * 4);
        auto* out = reinterpret_cast<quint32*>(pixmap.argb.data());
        for (int y = 0; y < image.height(); ++y) {
            const auto* row = reinterpret_cast<const quint32*>(image.constScanLine(y));
            for (int x = 0; x < image.width(); ++x) {
                *out++ = qToBigEndian(row[x]);
            }
        }
        m_pixmaps.append(pixmap);
    }
    if (m_adaptor != nullptr) {
        emit m_adaptor->NewIcon();
    }
}

void StatusNotifierItem::setToolTip(const QString& description) {
    if (description == m_toolTip) {
        return;
    }
    m_toolTip = description;
    if (m_adaptor != nullptr) {
        emit m_adaptor->NewToolTip();
    }
}

}  // namespace hushwell
