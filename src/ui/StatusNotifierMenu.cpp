#include "ui/StatusNotifierMenu.h"

#include <QAction>
#include <QActionGroup>
#include <QDBusAbstractAdaptor>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMetaType>
#include <QDBusVariant>
#include <QEvent>
#include <QMenu>

namespace hushwell {

// One entry with the entries below it, as the protocol carries it: (ia{sv}av).
struct MenuLayout {
    int id = 0;
    QVariantMap properties;
    QList<QDBusVariant> children;  // each a MenuLayout
};

// One entry's properties: (ia{sv}).
struct MenuProperties {
    int id = 0;
    QVariantMap properties;
};

}  // namespace hushwell

Q_DECLARE_METATYPE(hushwell::MenuLayout)
Q_DECLARE_METATYPE(hushwell::MenuProperties)

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

class StatusNotifierMenuAdaptor final : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.canonical.dbusmenu")
    Q_PROPERTY(uint Version READ version)
    Q_PROPERTY(QString TextDirection READ textDirection)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(QStringList IconThemePath READ iconThemePath)
public:
    explicit StatusNotifierMenuAdaptor(StatusNotifierMenu* menu)
        : QDBusAbstractAdaptor(menu), m_menu(*menu) {}

    [[nodiscard]] static uint version() { return 3; }
    [[nodiscard]] static QString textDirection() { return QStringLiteral("ltr"); }
    [[nodiscard]] static QString status() { return QStringLiteral("normal"); }
    [[nodiscard]] static QStringList iconThemePath() { return {}; }

public slots:
    uint GetLayout(int parentId, int recursionDepth, const QStringList& /*propertyNames*/,
                   hushwell::MenuLayout& layout) {
        layout = layoutOf(parentId, recursionDepth);
        return m_menu.revision();
    }
    QList<hushwell::MenuProperties> GetGroupProperties(const QList<int>& ids,
                                                       const QStringList& /*propertyNames*/) {
        QList<MenuProperties> all;
        for (const int id : ids) {
            if (id == 0 || m_menu.action(id) != nullptr) {
                all.append({id, m_menu.properties(id)});
            }
        }
        return all;
    }
    QDBusVariant GetProperty(int id, const QString& name) {
        return QDBusVariant(m_menu.properties(id).value(name));
    }
    // A click is carried out once the panel has its answer: Quit asks its question first.
    void Event(int id, const QString& eventId, const QDBusVariant& /*data*/, uint /*timestamp*/) {
        QAction* action = m_menu.action(id);
        if (action != nullptr && eventId == QLatin1String("clicked")) {
            QMetaObject::invokeMethod(action, &QAction::trigger, Qt::QueuedConnection);
        }
    }
    bool AboutToShow(int id) {
        if (QMenu* menu = m_menu.menuOf(id)) {
            emit menu->aboutToShow();
        }
        return false;  // a change it brings is told by LayoutUpdated
    }
    QList<int> AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors) {
        idErrors.clear();
        for (const int id : ids) {
            AboutToShow(id);
        }
        return {};
    }

signals:
    void LayoutUpdated(uint revision, int parent);

private:
    MenuLayout layoutOf(int id, int depth) {
        MenuLayout layout{id, m_menu.properties(id), {}};
        if (depth != 0) {
            for (QAction* entry : m_menu.entries(id)) {
                layout.children.append(
                    QDBusVariant(QVariant::fromValue(layoutOf(m_menu.idOf(entry), depth - 1))));
            }
        }
        return layout;
    }

    StatusNotifierMenu& m_menu;
};

StatusNotifierMenu::StatusNotifierMenu(QMenu& menu, QObject* parent)
    : QObject(parent), m_menu(menu) {
    qDBusRegisterMetaType<MenuLayout>();
    qDBusRegisterMetaType<MenuProperties>();
    qDBusRegisterMetaType<QList<MenuProperties>>();
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
    return id;
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

#include "StatusNotifierMenu.moc"
