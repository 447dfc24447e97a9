#include "manager.h"

#include "applog.h"
#include "combo.h"
#include "datamodels.h"
#include "drive.h"

void manager::exeRemoveTransfer(const QString &action)
{
    if (action != QLatin1String("transfer"))
        return;
    TrackMap selection;
    for (const QList<QObject *> *rows : {&m_trackModel, &m_podcastModel, &m_audiobookModel, &m_videoModel}) {
        for (QObject *object : *rows) {
            const auto *row = static_cast<TrackDataModel *>(object);
            const auto it = m_library.constFind(row->trackid());
            if (row->selected() && it != m_library.constEnd())
                selection.insert(it.key(), it.value());
        }
    }
    if (selection.isEmpty()) {
        emit sgShowMessage(m_messages.noMediaSelected);
        return;
    }
    writeLog(appLogFile(), QStringLiteral("Chosen for the transfer: "), QString::number(selection.size()));
    Drive::setTransferMap(selection);
    emit showTransferBrowser();
}
