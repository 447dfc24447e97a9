#pragma once

#include <QQuickView>

// The window that hosts the Qt Quick front end.
class QmlApplicationViewer : public QQuickView
{
    Q_OBJECT
public:
    explicit QmlApplicationViewer(QWindow *parent = nullptr);

    // Loads the front end from a file; false (with the errors logged) when it cannot be shown.
    bool setMainQmlFile(const QString &file);
    QString errorText() const { return m_errorText; }

private:
    QString m_errorText;
};
