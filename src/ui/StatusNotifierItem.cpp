#include "ui/StatusNotifierItem.h"

#include "ui/StatusNotifierMenu.h"

#include <QCoreApplication>
#include <QDBusAbstractAdaptor>
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

const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString kItemPath = QStringLiteral("/StatusNotifierItem");

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

// The item's face on the bus: the properties the panel reads, the calls it makes, and the
// signals that tell it to read again.
class StatusNotifierAdaptor final : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_PROPERTY(QString Category READ category)
    Q_PROPERTY(QString Id READ id)
    Q_PROPERTY(QString Title READ title)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(int WindowId READ windowId)
    Q_PROPERTY(QString IconThemePath READ none)
    Q_PROPERTY(QDBusObjectPath Menu READ menu)
    Q_PROPERTY(bool ItemIsMenu READ itemIsMenu)
    Q_PROPERTY(QString IconName READ none)
    Q_PROPERTY(QList<hushwell::StatusNotifierItem::Pixmap> IconPixmap READ iconPixmap)
    Q_PROPERTY(QString OverlayIconName READ none)
    Q_PROPERTY(QList<hushwell::StatusNotifierItem::Pixmap> OverlayIconPixmap READ noPixmaps)
    Q_PROPERTY(QString AttentionIconName READ none)
    Q_PROPERTY(QList<hushwell::StatusNotifierItem::Pixmap> AttentionIconPixmap READ noPixmaps)
    Q_PROPERTY(QString AttentionMovieName READ none)
    Q_PROPERTY(hushwell::StatusNotifierItem::ToolTip ToolTip READ toolTip)
public:
    explicit StatusNotifierAdaptor(StatusNotifierItem* item)
        : QDBusAbstractAdaptor(item), m_item(*item) {}

    [[nodiscard]] static QString category() { return QStringLiteral("ApplicationStatus"); }
    [[nodiscard]] static QString id() { return QCoreApplication::applicationName(); }
    [[nodiscard]] QString title() const { return m_item.title(); }
    [[nodiscard]] static QString status() { return QStringLiteral("Active"); }
    [[nodiscard]] static int windowId() { return 0; }
    [[nodiscard]] static QString none() { return {}; }
    [[nodiscard]] QDBusObjectPath menu() const { return QDBusObjectPath(m_item.menuPath()); }
    [[nodiscard]] static bool itemIsMenu() { return false; }
    [[nodiscard]] QList<StatusNotifierItem::Pixmap> iconPixmap() const { return m_item.pixmaps(); }
    [[nodiscard]] static QList<StatusNotifierItem::Pixmap> noPixmaps() { return {}; }
    // The icon is left out: the panel has it already, and sending it with every new text would
    // cost its bytes each second.
    [[nodiscard]] StatusNotifierItem::ToolTip toolTip() const {
        return {{}, {}, m_item.title(), m_item.toolTip()};
    }

public slots:
    void Activate(int /*x*/, int /*y*/) { emit m_item.activated(); }
    void SecondaryActivate(int /*x*/, int /*y*/) {}
    void ContextMenu(int x, int y) { emit m_item.menuWanted(QPoint(x, y)); }
    void Scroll(int /*delta*/, const QString& /*orientation*/) {}

signals:
    void NewTitle();
    void NewIcon();
    void NewToolTip();
    void NewStatus(const QString& status);

private:
    StatusNotifierItem& m_item;
};

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

#include "StatusNotifierItem.moc"
