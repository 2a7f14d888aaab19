#pragma once

#include <QByteArray>
#include <QIcon>
#include <QList>
#include <QMetaType>
#include <QObject>
#include <QPoint>
#include <QString>

class QDBusArgument;
class QDBusServiceWatcher;
class QMenu;

namespace hushwell {

class StatusNotifierAdaptor;
class StatusNotifierMenu;

// The program's icon on a panel that speaks StatusNotifierItem over the session bus (KDE, GNOME's
// AppIndicator extension, most Wayland panels). Qt's own item looks for such a panel once, at
// start-up, and never again; this one is offered to the panel's watcher whenever a watcher takes
// its name on the bus, however late, and again each time the panel restarts.
class StatusNotifierItem final : public QObject {
    Q_OBJECT
public:
    // The pixmaps sent for an icon: panels' usual sizes and twice one of them; the panel scales
    // the nearest. Each one costs its bytes on every read, and a panel that reads every property
    // at each new tooltip (KDE's does) reads them once a second.
    static constexpr int kIconSizes[] = {16, 22, 44};

    // On the session bus, if there is one (`onBus()` tells); `title` is the tooltip's title,
    // `menu` what the panel shows as the item's menu.
    StatusNotifierItem(const QString& title, QMenu& menu, QObject* parent);
    ~StatusNotifierItem() override;

    [[nodiscard]] bool onBus() const { return m_onBus; }
    // Whether a watcher took the item: a panel shows it.
    [[nodiscard]] bool registered() const { return m_registered; }
    // Whether a watcher is on the bus now, whatever it answered.
    [[nodiscard]] bool watcherPresent() const;

    void setIcon(const QIcon& icon);
    // Tells the panel only when `description` differs from what it has.
    void setToolTip(const QString& description);

    // What the panel reads; the adaptor's properties.
    struct Pixmap {
        int width = 0;
        int height = 0;
        QByteArray argb;  // ARGB32 in network byte order, as the protocol has it
    };
    // The tooltip as the protocol carries it: an icon (none: the panel shows the item's own), a
    // title and a description.
    struct ToolTip {
        QString iconName;
        QList<Pixmap> icon;
        QString title;
        QString description;
    };
    [[nodiscard]] const QList<Pixmap>& pixmaps() const { return m_pixmaps; }
    [[nodiscard]] const QString& title() const { return m_title; }
    [[nodiscard]] const QString& toolTip() const { return m_toolTip; }
    [[nodiscard]] QString menuPath() const;

signals:
    // Whether a watcher took the item: at each change, and at each answer of a watcher.
    void registeredChanged(bool registered);
    void activated();                   // a click on the icon
    void menuWanted(const QPoint& at);  // the panel asks for the menu at that point of the screen

private:
    void offerToWatcher();
    void setRegistered(bool registered);

    QString m_service;
    QString m_title;
    QString m_toolTip;
    QList<Pixmap> m_pixmaps;
    StatusNotifierAdaptor* m_adaptor = nullptr;
    StatusNotifierMenu* m_menu = nullptr;
    QDBusServiceWatcher* m_watcher = nullptr;
    bool m_onBus = false;
    bool m_registered = false;
    quint64 m_offers = 0;  // which offer an answer belongs to: only the latest counts
};

QDBusArgument& operator<<(QDBusArgument& out, const StatusNotifierItem::Pixmap& pixmap);
const QDBusArgument& operator>>(const QDBusArgument& in, StatusNotifierItem::Pixmap& pixmap);
QDBusArgument& operator<<(QDBusArgument& out, const StatusNotifierItem::ToolTip& tip);
const QDBusArgument& operator>>(const QDBusArgument& in, StatusNotifierItem::ToolTip& tip);

}  // namespace hushwell

Q_DECLARE_METATYPE(hushwell::StatusNotifierItem::Pixmap)
Q_DECLARE_METATYPE(hushwell::StatusNotifierItem::ToolTip)
