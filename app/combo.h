#pragma once

#include "drive.h"

#include <QObject>
#include <QVariant>

struct SystemInfo;

// Vehicle and model-year choice: keeps the choice in the settings and loads the capability
// record of the vehicle's in-car system. Lives on the front end's root object.
class Combo : public QObject
{
    Q_OBJECT
public:
    explicit Combo(QObject *root);

    // The process-wide record of the chosen system; never null.
    static SystemInfo *systemInfo();
    // A copy of it that a vehicle chosen meanwhile cannot change; what jobs take.
    static SystemInfo systemInfoCopy();
    static bool loadSystemInfo(const QString &vehicleName);
    // The vehicles the user can choose from, as maps of name, brand, firstYear and lastYear.
    static QVariantList vehicleList();

public slots:
    // Stores the choice under "Model", "ModelName", "ModelYearValue" and "ModelYearIndex".
    void slVehicleChosen(
        const QString &model, const QString &modelName, const QString &yearValue, int yearIndex);
    // Loads the chosen vehicle's system, then shows the media library when it holds albums (or
    // the front end counts media), else the start page.
    void slCheckMediaLibrary(int count);

private:
    QObject *m_root;
    // Joined to the front end's drive list like the live one; it lists nothing itself.
    Drive m_drive;
};
