#pragma once

#include <QAction>
#include <QDBusContext>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QTimer>
#include <QVariantMap>

class QMenu;

namespace hushwell {

class StatusNotifierMenuAdaptor;

// A QMenu as a panel reads it over the session bus (com.canonical.dbusmenu): GNOME's AppIndicator
// extension shows no menu of the program's own, only one it is given this way. Entries are named
// by ids that stay with their actions; a change to any of the menus tells the panel to read the
// layout again. An id that names no entry is answered with an error.
class StatusNotifierMenu final : public QObject, public QDBusContext {
    Q_OBJECT
public:
    static constexpr const char* kPath = "/MenuBar";

    // On the session bus at kPath while it lives; `onBus()` tells whether that worked.
    StatusNotifierMenu(QMenu& menu, QObject* parent);
    ~StatusNotifierMenu() override;
    [[nodiscard]] bool onBus() const { return m_onBus; }

    // What the adaptor answers with. Id 0 is the menu itself.
    [[nodiscard]] QAction* action(int id) const { return m_actions.value(id).data(); }
    [[nodiscard]] QMenu* menuOf(int id);
    [[nodiscard]] int idOf(QAction* action);
    [[nodiscard]] QVariantMap properties(int id);
    [[nodiscard]] QList<QAction*> entries(int id);
    [[nodiscard]] uint revision() const { return m_revision; }
    // How many entries have an id now.
    [[nodiscard]] qsizetype idsHeld() const { return m_actions.size(); }
    // Whether `id` names the menu or one of its entries now.
    [[nodiscard]] bool knows(int id) const { return id == 0 || action(id) != nullptr; }
    // The call being answered fails: `id` names nothing.
    void refuseUnknown(int id) const;
    // The panel is about to show the entries below `id`: they are brought up to date, and a change
    // not yet told is told now (a new revision). True when the panel must read them again.
    bool aboutToShow(int id);
    // A click on entry `id`, carried out once the panel has its answer: Quit asks its question
    // first.
    void click(int id) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QMenu& m_menu;
    StatusNotifierMenuAdaptor* m_adaptor = nullptr;
    QHash<QAction*, int> m_ids;
    QHash<int, QPointer<QAction>> m_actions;
    QSet<QMenu*> m_watched;
    QTimer m_changed;  // many changes at once tell the panel once
    int m_nextId = 1;
    uint m_revision = 1;
    bool m_onBus = false;
};

}  // namespace hushwell
