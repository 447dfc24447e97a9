#include "qmlapplicationviewer.h"

#include "applog.h"

#include <QFileInfo>
#include <QQmlError>
#include <QUrl>

QmlApplicationViewer::QmlApplicationViewer(QWindow *parent)
    : QQuickView(parent)
{
    setResizeMode(QQuickView::SizeRootObjectToView);
    setTitle(QStringLiteral("KiVO"));
}

bool QmlApplicationViewer::setMainQmlFile(const QString &file)
{
    m_errorText.clear();
    if (!QFileInfo::exists(file)) {
        m_errorText = QStringLiteral("The front end is missing: ") + QFileInfo(file).absoluteFilePath();
        writeLog(appLogFile(), m_errorText);
        return false;
    }
    setSource(QUrl::fromLocalFile(QFileInfo(file).absoluteFilePath()));
    if (status() != QQuickView::Ready || !rootObject()) {
        QStringList lines;
        for (const QQmlError &error : errors())
            lines << error.toString();
        m_errorText = QStringLiteral("The front end could not be loaded: ") + lines.join(QLatin1String("; "));
        writeLog(appLogFile(), m_errorText);
        return false;
    }
    return true;
}
