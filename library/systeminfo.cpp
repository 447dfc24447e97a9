#include "systeminfo.h"

#include "applog.h"

#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QStringList>
#include <QXmlStreamReader>
#include <QtGlobal>

#include <mutex>

// Q_INIT_RESOURCE must be used outside any namespace; the resources of a static library are
// only registered once this has run.
static void registerKivoResources()
{
    Q_INIT_RESOURCE(resources);
}

void initKivoResources()
{
    static std::once_flag once;
    std::call_once(once, registerKivoResources);
}

namespace {

const char *const kSystemsPath = ":resources/xml/systems.xml";
const char *const kVehiclesPath = ":resources/xml/vehicles.xml";
// The lists are ours and small; anything nested deeper than this is not one of them.
const int kMaxDepth = 32;

std::string text(const QXmlStreamAttributes &attributes, const char *name)
{
    return attributes.value(QLatin1String(name)).toString().toStdString();
}

int toInt(const QXmlStreamAttributes &attributes, const char *name)
{
    return attributes.value(QLatin1String(name)).toString().toInt();
}

quint32 toUInt(const QXmlStreamAttributes &attributes, const char *name)
{
    return attributes.value(QLatin1String(name)).toString().toUInt();
}

bool flag(const QXmlStreamAttributes &attributes, const char *name)
{
    return attributes.value(QLatin1String(name)) == QLatin1String("true");
}

enum class Section { None, AlbumArt, Audio, Video, FilingSystems, Playlists };

void readSystemElement(
    const QStringView element, const QXmlStreamAttributes &a, Section &section, SystemInfo *out)
{
    if (element == QLatin1String("AlbumArt")) {
        section = Section::AlbumArt;
        out->albumArt.supported = flag(a, "supported");
        out->albumArt.sizeX = toInt(a, "sizeX");
        out->albumArt.sizeY = toInt(a, "sizeY");
        out->albumArt.format = text(a, "format");
        out->albumArt.extension = text(a, "extension");
    } else if (element == QLatin1String("Audio")) {
        section = Section::Audio;
        out->audio.bitrate = toUInt(a, "bitrate");
        out->audio.maxBitrate = toInt(a, "maxBitrate");
        out->audio.samplingFrequency = toInt(a, "samplingFrequency");
        out->audio.maxSamplingFrequency = toInt(a, "maxSamplingFrequency");
        out->audio.codec = text(a, "codec");
        out->audio.extension = text(a, "extension");
    } else if (element == QLatin1String("Video")) {
        section = Section::Video;
        out->video.supported = flag(a, "supported");
    } else if (element == QLatin1String("FilingSystems")) {
        section = Section::FilingSystems;
        out->filingSystems.filingSystem = text(a, "filingSystem");
        out->filingSystems.filingSystemNumber = toUInt(a, "filingSystem");
    } else if (element == QLatin1String("Playlists")) {
        section = Section::Playlists;
        out->playlists.supported = flag(a, "supported");
    } else if (element == QLatin1String("Format") && section == Section::AlbumArt) {
        out->albumArt.formats.append({text(a, "name"), text(a, "extension")});
    } else if (element == QLatin1String("Codec") && section == Section::Audio) {
        out->audio.codecs.append({text(a, "name"), text(a, "extension"), text(a, "description")});
    } else if (element == QLatin1String("Codec") && section == Section::Video && out->video.supported) {
        VideoCodec codec;
        codec.name = text(a, "name");
        codec.level = toUInt(a, "level");
        codec.width = toUInt(a, "width");
        codec.height = toUInt(a, "height");
        codec.acodec = text(a, "acodec");
        codec.profile = text(a, "profile");
        codec.extension = text(a, "extension");
        codec.description = text(a, "description");
        codec.bitrate = toUInt(a, "bitrate");
        codec.maxBitrate = toUInt(a, "maxBitrate");
        codec.samplingFrequency = toUInt(a, "samplingFrequency");
        codec.maxSamplingFrequency = toUInt(a, "maxSamplingFrequency");
        out->video.codecs.append(codec);
    } else if (element == QLatin1String("FilingSystem") && section == Section::FilingSystems) {
        FilingSystemInfo fs;
        fs.name = text(a, "name");
        fs.maxFiles = toInt(a, "maxFiles");
        fs.maxFileSize = toUInt(a, "maxFileSize");
        fs.maxPartitions = toUInt(a, "maxPartitions");
        fs.maxPartitionSize = toUInt(a, "maxPartitionSize");
        fs.maxFilesPerFolder = toUInt(a, "maxFilesPerFolder");
        out->filingSystems.list.append(fs);
    } else if (element == QLatin1String("Playlist") && section == Section::Playlists
        && out->playlists.supported) {
        out->playlists.list.append({text(a, "name"), text(a, "extension")});
    }
}

QString xmlError(const QXmlStreamReader &xml)
{
    return QStringLiteral("%1 (line %2)").arg(xml.errorString()).arg(xml.lineNumber());
}

void logProblem(const QString &message)
{
    qWarning("%s", qPrintable(message));
    writeLog(appLogFile(), message, QStringLiteral(""));
}

QMutex &loadMutex()
{
    static QMutex mutex;
    return mutex;
}

}  // namespace

bool readSystemInfo(QIODevice *device, const QString &systemName, SystemInfo *out, QString *error)
{
    *out = SystemInfo();
    QString problem;
    bool found = false;
    if (!device || !device->isReadable()) {
        problem = QStringLiteral("Load XML File Problem.");
    } else {
        QXmlStreamReader xml(device);
        SystemInfo read;
        int depth = 0;
        int systemDepth = -1;  // depth of the matching System element while inside it
        Section section = Section::None;
        while (!found && !xml.atEnd()) {
            const QXmlStreamReader::TokenType token = xml.readNext();
            if (token == QXmlStreamReader::StartElement) {
                if (++depth > kMaxDepth) {
                    xml.raiseError(QStringLiteral("elements nested too deeply"));
                    break;
                }
                const QStringView element = xml.name();
                if (systemDepth < 0) {
                    if (element == QLatin1String("System")
                        && xml.attributes().value(QLatin1String("name")) == systemName) {
                        systemDepth = depth;
                        read.name = systemName.toStdString();
                    }
                } else if (depth == systemDepth + 1 || depth == systemDepth + 2) {
                    if (depth == systemDepth + 1)
                        section = Section::None;
                    readSystemElement(element, xml.attributes(), section, &read);
                }
            } else if (token == QXmlStreamReader::EndElement) {
                if (systemDepth == depth)
                    found = true;
                --depth;
            }
        }
        if (xml.hasError())
            problem = QStringLiteral("Systems list is malformed: %1").arg(xmlError(xml));
        else if (!found)
            problem = QStringLiteral("System not found in the systems list: %1").arg(systemName);
        else
            *out = read;
    }
    if (error)
        *error = problem;
    return problem.isEmpty();
}

bool readVehicleList(QIODevice *device, QList<VehicleEntry> *out, QString *error)
{
    out->clear();
    QString problem;
    if (!device || !device->isReadable()) {
        problem = QStringLiteral("Load XML File Problem.");
    } else {
        QXmlStreamReader xml(device);
        QList<VehicleEntry> read;
        QString brand;
        int depth = 0;
        while (!xml.atEnd()) {
            const QXmlStreamReader::TokenType token = xml.readNext();
            if (token == QXmlStreamReader::StartElement) {
                if (++depth > kMaxDepth) {
                    xml.raiseError(QStringLiteral("elements nested too deeply"));
                    break;
                }
                const QXmlStreamAttributes a = xml.attributes();
                if (xml.name() == QLatin1String("Brand")) {
                    brand = a.value(QLatin1String("name")).toString();
                } else if (xml.name() == QLatin1String("Vehicle")) {
                    VehicleEntry v;
                    v.brand = brand;
                    v.name = a.value(QLatin1String("name")).toString();
                    v.firstYear = toInt(a, "firstYear");
                    v.lastYear = toInt(a, "lastYear");
                    v.system = a.value(QLatin1String("system")).toString();
                    if (!v.name.isEmpty())
                        read.append(v);
                }
            } else if (token == QXmlStreamReader::EndElement) {
                if (xml.name() == QLatin1String("Brand"))
                    brand.clear();
                --depth;
            }
        }
        if (xml.hasError())
            problem = QStringLiteral("Vehicles list is malformed: %1").arg(xmlError(xml));
        else
            *out = read;
    }
    if (error)
        *error = problem;
    return problem.isEmpty();
}

SystemInfo *systemInfo()
{
    static SystemInfo info;
    return &info;
}

SystemInfo systemInfoCopy()
{
    QMutexLocker lock(&loadMutex());
    return *systemInfo();
}

QList<VehicleEntry> vehicleList()
{
    initKivoResources();
    QFile file(QString::fromLatin1(kVehiclesPath));
    QList<VehicleEntry> list;
    QString problem;
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        problem = QStringLiteral("Load XML File Problem.");
    else
        readVehicleList(&file, &list, &problem);
    if (!problem.isEmpty())
        logProblem(problem);
    return list;
}

QString systemNameForVehicle(const QString &vehicleName)
{
    const QList<VehicleEntry> list = vehicleList();
    for (const VehicleEntry &v : list) {
        if (v.name == vehicleName)
            return v.system;
    }
    return QStringLiteral("");
}

QStringList vehicleBrands()
{
    QStringList brands;
    for (const VehicleEntry &v : vehicleList()) {
        if (!brands.contains(v.brand))
            brands.append(v.brand);
    }
    return brands;
}

QStringList vehicleNames(const QString &brand)
{
    QStringList names;
    for (const VehicleEntry &v : vehicleList()) {
        if (v.brand == brand)
            names.append(v.name);
    }
    return names;
}

QStringList vehicleModelYears(const QString &vehicleName)
{
    // A listed range is a few years; a reversed or absurd one offers the first year only.
    const int kMaxYears = 100;
    QStringList years;
    for (const VehicleEntry &v : vehicleList()) {
        if (v.name != vehicleName)
            continue;
        const int last
            = (v.lastYear < v.firstYear || v.lastYear - v.firstYear >= kMaxYears) ? v.firstYear : v.lastYear;
        for (int year = v.firstYear; year <= last; ++year)
            years.append(QString::number(year));
        break;
    }
    return years;
}

bool loadSystemInfo(const QString &vehicleName)
{
    QMutexLocker lock(&loadMutex());
    SystemInfo *info = systemInfo();
    // The record always describes exactly one system: a failed load must not leave the last one.
    *info = SystemInfo();

    const QString systemName = systemNameForVehicle(vehicleName);
    if (systemName.isEmpty()) {
        logProblem(QStringLiteral("Unknown vehicle, no system loaded: %1").arg(vehicleName));
        return false;
    }

    initKivoResources();
    QFile file(QString::fromLatin1(kSystemsPath));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        logProblem(QStringLiteral("Load XML File Problem."));
        return false;
    }
    SystemInfo loaded;
    QString problem;
    if (!readSystemInfo(&file, systemName, &loaded, &problem)) {
        logProblem(problem);
        return false;
    }
    loaded.vehicle = vehicleName;
    *info = loaded;
    return true;
}
