#pragma once

#include "modelproperty.h"

#include <QObject>
#include <QString>

// One target the transfer dialog lists: a removable volume (`isSystem` 0), measured when found,
// or a folder the user chose (`isSystem` 1), never measured.
class DriveData : public QObject
{
    Q_OBJECT
    KIVO_MODEL_PROPERTY(QString, totalspace, setTotalspace)  // GiB, two decimals
    KIVO_MODEL_PROPERTY(QString, freespace, setFreespace)
    KIVO_MODEL_PROPERTY(qint64, freespace1, setFreespace1)  // free bytes
    KIVO_MODEL_PROPERTY(qint64, isSystem, setIsSystem)
    KIVO_MODEL_PROPERTY(QString, usedspace, setUsedspace)
    KIVO_MODEL_PROPERTY(QString, driveletter, setDriveletter)  // the mount path or the folder
    KIVO_MODEL_PROPERTY(QString, filesystem, setFilesystem)  // the volume label
    KIVO_MODEL_PROPERTY(QString, drivename, setDrivename)  // the file system's name, or the folder

public:
    explicit DriveData(QObject *parent = nullptr)
        : QObject(parent)
    { }
    DriveData(const QString &totalspace, const QString &freespace, qint64 isSystem, qint64 freespace1,
        const QString &usedspace, const QString &driveletter, const QString &filesystem,
        const QString &drivename, QObject *parent = nullptr)
        : QObject(parent)
        , m_totalspace(totalspace)
        , m_freespace(freespace)
        , m_freespace1(freespace1)
        , m_isSystem(isSystem)
        , m_usedspace(usedspace)
        , m_driveletter(driveletter)
        , m_filesystem(filesystem)
        , m_drivename(drivename)
    { }
};
