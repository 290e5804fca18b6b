#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>

// The one object that the design agent sees on the web channel (as "___kr_host"). Every call
// arrives on the main thread; the view connects to the signals.
class KRDesignAgentHost : public QObject
{
    Q_OBJECT

public:
    explicit KRDesignAgentHost(QObject *parent = nullptr) : QObject(parent) {}

    // The agent of a fresh page document is connected.
    Q_INVOKABLE void agentReady(const QString &url) { emit ready(url); }
    // A batch was applied; rows: the geometry that changed (see KRLayoutCache).
    Q_INVOKABLE void batchApplied(double sequence, const QVariantList &rows) { emit applied(quint64(sequence), rows); }
    // The page changed its own layout (enhancement, images, style sheets).
    Q_INVOKABLE void geometryChanged(const QVariantList &rows) { emit geometry(rows); }
    Q_INVOKABLE void agentErrors(const QStringList &errors) { emit failed(errors); }
    // The user asked for a context menu over a node (its nearest mirrored id).
    Q_INVOKABLE void contextMenu(double nodeId, const QVariantMap &event) { emit menu(quint64(nodeId), event); }
    // The primary button went down over a node (the nearest mirrored id of the topmost element
    // under the pointer), before the page's own handlers heard of it.
    Q_INVOKABLE void pressed(double nodeId, const QVariantMap &event) { emit press(quint64(nodeId), event); }
    // A page script called a method of a host object ("___kr_page", "___kr_dwc", ...).
    Q_INVOKABLE void invoke(const QString &objectName, const QString &method, const QVariantList &args)
    {
        emit hostCall(objectName, method, args);
    }

signals:
    void ready(const QString &url);
    void applied(quint64 sequence, const QVariantList &rows);
    void geometry(const QVariantList &rows);
    void failed(const QStringList &errors);
    void menu(quint64 nodeId, const QVariantMap &event);
    void press(quint64 nodeId, const QVariantMap &event);
    void hostCall(const QString &objectName, const QString &method, const QVariantList &args);
};
