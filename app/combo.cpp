#include "combo.h"

#include "applog.h"
#include "kivodb.h"
#include "systeminfo.h"

#include <QSettings>
#include <QVariantMap>

Combo::Combo(QObject *root)
    : QObject(root)
    , m_root(root)
{
    if (root && root->metaObject()->indexOfMethod("updateDrivesData(QVariant)") >= 0)
        connect(&m_drive, SIGNAL(showDrivesData(QVariant)), root, SLOT(updateDrivesData(QVariant)));
}

SystemInfo *Combo::systemInfo()
{
    return ::systemInfo();
}

SystemInfo Combo::systemInfoCopy()
{
    return ::systemInfoCopy();
}

bool Combo::loadSystemInfo(const QString &vehicleName)
{
    return ::loadSystemInfo(vehicleName);
}

QVariantList Combo::vehicleList()
{
    QVariantList list;
    for (const VehicleEntry &vehicle : ::vehicleList()) {
        list << QVariantMap{{QStringLiteral("name"), vehicle.name}, {QStringLiteral("brand"), vehicle.brand},
            {QStringLiteral("firstYear"), vehicle.firstYear}, {QStringLiteral("lastYear"), vehicle.lastYear}};
    }
    return list;
}

void Combo::slVehicleChosen(
    const QString &model, const QString &modelName, const QString &yearValue, int yearIndex)
{
    QSettings settings(QStringLiteral("MyComp"), QStringLiteral("MyApp"));
    settings.beginGroup(QStringLiteral("MainWindows"));
    settings.setValue(QStringLiteral("Model"), model);
    settings.setValue(QStringLiteral("ModelName"), modelName);
    settings.setValue(QStringLiteral("ModelYearValue"), yearValue);
    settings.setValue(QStringLiteral("ModelYearIndex"), yearIndex);
    settings.endGroup();
    settings.sync();
    QMetaObject::invokeMethod(m_root, "slSetVehicle", Q_ARG(QVariant, modelName), Q_ARG(QVariant, yearValue));
}

void Combo::slCheckMediaLibrary(int count)
{
    QSettings settings(QStringLiteral("MyComp"), QStringLiteral("MyApp"));
    const QString vehicle = settings.value(QStringLiteral("MainWindows/ModelName")).toString();
    if (!loadSystemInfo(vehicle)) {
        writeLog(appLogFile(), QStringLiteral("No in-car system for the vehicle "), vehicle);
        QMetaObject::invokeMethod(m_root, "showWelcomePage");
        return;
    }
    const bool hasMedia = kivoDB().libraryHasAlbums() || count > 0;
    QMetaObject::invokeMethod(m_root, hasMedia ? "showMediaLibrary" : "showStartPage");
}
