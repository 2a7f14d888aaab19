#include "ui/StatusNotifierMenu.h"

#include "ui/StatusNotifierAdaptors.h"

#include <QAction>
#include <QActionGroup>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMetaType>
#include <QDBusVariant>
#include <QEvent>
#include <QMenu>

namespace hushwell {

QDBusArgument& operator<<(QDBusArgument& out, const MenuLayout& item) {
    out.beginStructure();
    out << item.id << item.properties;
    out.beginArray(qMetaTypeId<QDBusVariant>());
    for (const QDBusVariant& child : item.children) {
        out << child;
    }
    out.endArray();
    out.endStructure();
    return out;
}

const QDBusArgument& operator>>(const QDBusArgument& in, MenuLayout& item) {
    in.beginStructure();
    in >> item.id >> item.properties;
    in.beginArray();
    while (!in.atEnd()) {
        QDBusVariant child;
        in >> child;
        item.children.append(child);
    }
    in.endArray();
    in.endStructure();
    return in;
}

QDBusArgument& operator<<(QDBusArgument& out, const MenuProperties& item) {
    out.beginStructure();
    out << item.id << item.properties;
    out.endStructure();
    return out;
}

const QDBusArgument& operator>>(const QDBusArgument& in, MenuProperties& item) {
    in.beginStructure();
    in >> item.id >> item.properties;
    in.endStructure();
    return in;
}

QDBusArgument& operator<<(QDBusArgument& out, const MenuEvent& event) {
    out.beginStructure();
    out << event.id << event.eventId << event.data << event.timestamp;
    out.endStructure();
    return out;
}

const QDBusArgument& operator>>(const QDBusArgument& in, MenuEvent& event) {
    in.beginStructure();
    in >> event.id >> event.eventId >> event.data >> event.timestamp;
    in.endStructure();
    return in;
}

namespace {

// Qt marks an access key with '&', the protocol with '_'.
QString label(const QString& text) {
    QString out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'&' && i + 1 < text.size()) {
            out += text[++i] == u'&' ? QStringLiteral("&") : QStringLiteral("_") + text[i];
        } else {
            out += text[i] == u'_' ? QStringLiteral("__") : QString(text[i]);
        }
    }
    return out;
}

}  // namespace

StatusNotifierMenu::StatusNotifierMenu(QMenu& menu, QObject* parent)
    : QObject(parent), m_menu(menu) {
    qDBusRegisterMetaType<MenuLayout>();
    qDBusRegisterMetaType<MenuProperties>();
    qDBusRegisterMetaType<QList<MenuProperties>>();
    qDBusRegisterMetaType<MenuEvent>();
    qDBusRegisterMetaType<QList<MenuEvent>>();
    m_changed.setSingleShot(true);
    m_changed.setInterval(0);
    connect(&m_changed, &QTimer::timeout, this,
            [this] { emit m_adaptor->LayoutUpdated(++m_revision, 0); });
    m_adaptor = new StatusNotifierMenuAdaptor(this);
    m_onBus = QDBusConnection::sessionBus().registerObject(kPath, this);
    (void)menuOf(0);  // watched from the start
}

StatusNotifierMenu::~StatusNotifierMenu() {
    if (m_onBus) {
        QDBusConnection::sessionBus().unregisterObject(kPath);
    }
}

QMenu* StatusNotifierMenu::menuOf(int id) {
    QMenu* menu = id == 0 ? &m_menu : (action(id) != nullptr ? action(id)->menu() : nullptr);
    if (menu != nullptr && !m_watched.contains(menu)) {
        m_watched.insert(menu);
        menu->installEventFilter(this);
        connect(menu, &QObject::destroyed, this, [this, menu] { m_watched.remove(menu); });
    }
    return menu;
}

int StatusNotifierMenu::idOf(QAction* action) {
    auto found = m_ids.constFind(action);
    if (found != m_ids.constEnd() && m_actions.value(*found) == action) {
        return *found;
    }
    const int id = m_nextId++;
    m_ids.insert(action, id);
    m_actions.insert(id, action);
    // An entry deleted (the Lower menu's, rebuilt as programs come and go) takes its id along.
    connect(action, &QObject::destroyed, this, [this, action, id] {
        m_ids.remove(action);
        m_actions.remove(id);
    });
    return id;
}

void StatusNotifierMenu::refuseUnknown(int id) const {
    sendErrorReply(QDBusError::InvalidArgs, QStringLiteral("No menu entry has the id %1.").arg(id));
}

bool StatusNotifierMenu::aboutToShow(int id) {
    if (QMenu* menu = menuOf(id)) {
        emit menu->aboutToShow();
    }
    if (!m_changed.isActive()) {
        return false;
    }
    m_changed.stop();
    emit m_adaptor->LayoutUpdated(++m_revision, 0);
    return true;
}

void StatusNotifierMenu::click(int id) const {
    if (QAction* entry = action(id)) {
        QMetaObject::invokeMethod(entry, "trigger", Qt::QueuedConnection);
    }
}

QList<QAction*> StatusNotifierMenu::entries(int id) {
    QMenu* menu = menuOf(id);
    return menu != nullptr ? menu->actions() : QList<QAction*>();
}

QVariantMap StatusNotifierMenu::properties(int id) {
    QVariantMap properties;
    if (id == 0) {
        properties.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
        return properties;
    }
    const QAction* entry = action(id);
    if (entry == nullptr) {
        return properties;
    }
    if (entry->isSeparator()) {
        properties.insert(QStringLiteral("type"), QStringLiteral("separator"));
    } else {
        properties.insert(QStringLiteral("label"), label(entry->text()));
    }
    properties.insert(QStringLiteral("enabled"), entry->isEnabled());
    properties.insert(QStringLiteral("visible"), entry->isVisible());
    if (entry->isCheckable()) {
        const bool radio = entry->actionGroup() != nullptr && entry->actionGroup()->isExclusive();
        properties.insert(QStringLiteral("toggle-type"),
                          radio ? QStringLiteral("radio") : QStringLiteral("checkmark"));
        properties.insert(QStringLiteral("toggle-state"), entry->isChecked() ? 1 : 0);
    }
    if (entry->menu() != nullptr) {
        properties.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
    }
    return properties;
}

bool StatusNotifierMenu::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::ActionAdded:
        case QEvent::ActionRemoved:
        case QEvent::ActionChanged:
            m_changed.start();
            break;
        default:
            break;
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace hushwell
