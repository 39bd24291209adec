// Collects every user-visible text of the main window: its widgets, menus and actions, the
// dialogs it owns, and the dialogs and windows its buttons and menu items open. Each text is
// one line "window<TAB>widget<TAB>property<TAB>text", so lists can be compared as sets.
#pragma once

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QColorDialog>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QSet>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <functional>

#include "app/main_window.h"

namespace globeforge::testing {

class WindowTextCollector {
  public:
    // A widget or action reached in the walk, for checks beyond the texts themselves.
    std::function<void(QWidget*)> onWidget;

    QStringList Lines() const {
        QStringList lines(lines_.begin(), lines_.end());
        lines.sort();
        return lines;
    }

    // The window, then everything its buttons and menu items open. The items in `skip`
    // (object names) are not triggered: those that end the program or write files.
    void CollectAll(MainWindow& window, const QSet<QString>& skip) {
        WalkWindow(&window);
        for (QDialog* dialog : window.findChildren<QDialog*>()) WalkWindow(dialog);

        // The window's own buttons; a dialog's buttons only answer the dialog.
        for (QPushButton* button : window.centralWidget()->findChildren<QPushButton*>()) {
            if (skip.contains(button->objectName()) || !button->isEnabled()) continue;
            Open([button] { button->click(); });
        }
        for (QAction* action : AllActions(window.menuBar()->actions())) {
            if (action->menu() || action->isSeparator() || skip.contains(action->objectName()))
                continue;
            Open([action] { action->trigger(); });
        }
    }

    // Every text of one window and of the widgets inside it (not of other windows).
    void WalkWindow(QWidget* top) {
        const QString window = Name(top);
        Add(window, top, QStringLiteral("windowTitle"), top->windowTitle());
        if (auto* files = qobject_cast<QFileDialog*>(top)) {
            // Qt's own dialog: only what the window gives it; its list shows the disk.
            for (const QString& filter : files->nameFilters())
                Add(window, top, QStringLiteral("nameFilter"), filter);
            return;
        }
        if (qobject_cast<QColorDialog*>(top)) return;
        WalkWidget(window, top);
    }

  private:
    // Runs `open`; whatever modal dialog or new window it brings up is walked and closed.
    void Open(const std::function<void()>& open) {
        const QList<QWidget*> before = QApplication::topLevelWidgets();
        bool seen = false;
        QTimer poll;
        poll.setInterval(20);
        QObject::connect(&poll, &QTimer::timeout, [&] {
            QWidget* modal = QApplication::activeModalWidget();
            if (!modal) return;
            WalkWindow(modal);
            seen = true;
            if (auto* dialog = qobject_cast<QDialog*>(modal))
                dialog->reject();
            else
                modal->close();
        });
        poll.start();
        open();
        QTest::qWait(seen ? 0 : 100);
        poll.stop();
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (before.contains(w) || !w->isVisible()) continue;
            WalkWindow(w);
            w->close();
        }
    }

    static QList<QAction*> AllActions(const QList<QAction*>& actions) {
        QList<QAction*> all;
        for (QAction* a : actions) {
            all << a;
            if (a->menu()) all << AllActions(a->menu()->actions());
        }
        return all;
    }

    static QString Name(const QObject* o) {
        const QString cls = QString::fromLatin1(o->metaObject()->className());
        return o->objectName().isEmpty() ? cls : cls + QLatin1Char('#') + o->objectName();
    }

    void Add(const QString& window, const QObject* o, const QString& property, QString text) {
        if (text.isEmpty()) return;
        text.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
        lines_.insert(window + QLatin1Char('\t') + Name(o) + QLatin1Char('\t') + property +
                      QLatin1Char('\t') + text);
    }

    void AddActions(const QString& window, const QWidget* w) {
        for (const QAction* a : w->actions()) {
            Add(window, a, QStringLiteral("text"), a->text());
            if (a->toolTip() != QString(a->text()).remove(QLatin1Char('&')))
                Add(window, a, QStringLiteral("toolTip"), a->toolTip());
            Add(window, a, QStringLiteral("statusTip"), a->statusTip());
        }
    }

    void WalkWidget(const QString& window, QWidget* w) {
        if (onWidget) onWidget(w);
        Add(window, w, QStringLiteral("toolTip"), w->toolTip());
        Add(window, w, QStringLiteral("statusTip"), w->statusTip());
        Add(window, w, QStringLiteral("whatsThis"), w->whatsThis());
        if (auto* l = qobject_cast<QLabel*>(w)) Add(window, w, QStringLiteral("text"), l->text());
        if (auto* b = qobject_cast<QAbstractButton*>(w))
            Add(window, w, QStringLiteral("text"), b->text());
        if (auto* g = qobject_cast<QGroupBox*>(w))
            Add(window, w, QStringLiteral("title"), g->title());
        if (auto* m = qobject_cast<QMenu*>(w)) Add(window, w, QStringLiteral("title"), m->title());
        if (auto* e = qobject_cast<QLineEdit*>(w))
            Add(window, w, QStringLiteral("placeholderText"), e->placeholderText());
        if (auto* s = qobject_cast<QAbstractSpinBox*>(w))
            Add(window, w, QStringLiteral("specialValueText"), s->specialValueText());
        if (auto* s = qobject_cast<QSpinBox*>(w)) {
            Add(window, w, QStringLiteral("prefix"), s->prefix());
            Add(window, w, QStringLiteral("suffix"), s->suffix());
        }
        if (auto* c = qobject_cast<QComboBox*>(w))
            for (int i = 0; i < c->count(); ++i)
                Add(window, w, QStringLiteral("item"), c->itemText(i));
        if (auto* t = qobject_cast<QTabWidget*>(w))
            for (int i = 0; i < t->count(); ++i)
                Add(window, w, QStringLiteral("tab"), t->tabText(i));
        if (auto* box = qobject_cast<QMessageBox*>(w)) {
            Add(window, w, QStringLiteral("informativeText"), box->informativeText());
            Add(window, w, QStringLiteral("detailedText"), box->detailedText());
        }
        AddActions(window, w);
        for (QObject* child : w->children()) {
            auto* cw = qobject_cast<QWidget*>(child);
            if (cw && !cw->isWindow()) WalkWidget(window, cw);
            // Menus are windows of their own but belong to the menu bar's walk.
            if (auto* menu = qobject_cast<QMenu*>(child)) WalkWidget(window, menu);
        }
    }

    QSet<QString> lines_;
};

}  // namespace globeforge::testing
