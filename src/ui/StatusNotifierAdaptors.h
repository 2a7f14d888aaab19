#pragma once

// The faces of the StatusNotifierItem and of its menu on the session bus: the properties a panel
// reads, the calls it makes and the signals that tell it to read again. Only the item's and the
// menu's own files include this (it needs QtDBus, which the Windows build has not).

#include <QAction>
#include <QCoreApplication>
#include <QDBusAbstractAdaptor>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QMenu>
#include <QPoint>
#include <QVariantMap>

#include "ui/StatusNotifierItem.h"
#include "ui/StatusNotifierMenu.h"

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

// One of the events a panel sends at once: (isvu).
struct MenuEvent {
    int id = 0;
    QString eventId;  // "clicked", "hovered", "opened", "closed"
    QDBusVariant data;
    uint timestamp = 0;
};

QDBusArgument& operator<<(QDBusArgument& out, const MenuLayout& item);
const QDBusArgument& operator>>(const QDBusArgument& in, MenuLayout& item);
QDBusArgument& operator<<(QDBusArgument& out, const MenuProperties& item);
const QDBusArgument& operator>>(const QDBusArgument& in, MenuProperties& item);
QDBusArgument& operator<<(QDBusArgument& out, const MenuEvent& event);
const QDBusArgument& operator>>(const QDBusArgument& in, MenuEvent& event);

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
    void Event(int id, const QString& eventId, const QDBusVariant& /*data*/, uint /*timestamp*/) {
        if (!m_menu.knows(id)) {
            m_menu.refuseUnknown(id);
        } else if (eventId == QLatin1String("clicked")) {
            m_menu.click(id);
        }
    }
    QList<int> EventGroup(const QList<hushwell::MenuEvent>& events) {
        QList<int> idErrors;
        for (const MenuEvent& event : events) {
            if (!m_menu.knows(event.id)) {
                idErrors.append(event.id);
            } else if (event.eventId == QLatin1String("clicked")) {
                m_menu.click(event.id);
            }
        }
        return idErrors;
    }
    bool AboutToShow(int id) {
        if (!m_menu.knows(id)) {
            m_menu.refuseUnknown(id);
            return false;
        }
        return m_menu.aboutToShow(id);
    }
    QList<int> AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors) {
        QList<int> updatesNeeded;
        idErrors.clear();
        for (const int id : ids) {
            if (!m_menu.knows(id)) {
                idErrors.append(id);
            } else if (m_menu.aboutToShow(id)) {
                updatesNeeded.append(id);
            }
        }
        return updatesNeeded;
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

}  // namespace hushwell

Q_DECLARE_METATYPE(hushwell::MenuLayout)
Q_DECLARE_METATYPE(hushwell::MenuProperties)
Q_DECLARE_METATYPE(hushwell::MenuEvent)
