#include "usb/HidapiBackend.h"

#include "base/LogCategories.h"
#include "usb/DeviceNodeAccess.h"
#include "usb/HidReportDescriptor.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <hidapi/hidapi.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("HidapiBackend", text);
}

QString hidapiError(hid_device *device)
{
    const wchar_t *text = hid_error(device);
    return text ? QString::fromWCharArray(text).trimmed() : QString();
}

} // namespace

HidapiBackend::HidapiBackend(const QString &sysfsRoot, const QString &deviceRoot)
    : m_sysfsRoot(sysfsRoot), m_deviceRoot(deviceRoot)
{
}

HidapiBackend::~HidapiBackend()
{
    close();
    if (m_initialised)
        hid_exit();
}

QString HidapiBackend::descriptorPathFor(const QString &devicePath)
{
    return QStringLiteral("/sys/class/hidraw/%1/device/report_descriptor")
        .arg(QFileInfo(devicePath).fileName());
}

QString HidapiBackend::descriptorPath(const QString &devicePath) const
{
    return QStringLiteral("%1/class/hidraw/%2/device/report_descriptor")
        .arg(m_sysfsRoot, QFileInfo(devicePath).fileName());
}

QList<HidDeviceInfo> HidapiBackend::devices()
{
    // Each hidraw node's HID device says its ids in its uevent file:
    // HID_ID=<bus>:<vendor>:<product>, each in hexadecimal.
    QList<HidDeviceInfo> out;
    const QDir classDir(m_sysfsRoot + QStringLiteral("/class/hidraw"));
    for (const QString &name : classDir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        QFile uevent(classDir.filePath(name + QStringLiteral("/device/uevent")));
        if (!uevent.open(QIODevice::ReadOnly))
            continue;
        QStringList id;
        for (const QByteArray &line : uevent.readAll().split('\n')) {
            if (line.startsWith("HID_ID="))
                id = QString::fromLatin1(line.mid(7)).trimmed().split(QLatin1Char(':'));
        }
        bool vendorOk = false;
        bool productOk = false;
        const uint vendor = id.size() == 3 ? id.at(1).toUInt(&vendorOk, 16) : 0;
        const uint product = id.size() == 3 ? id.at(2).toUInt(&productOk, 16) : 0;
        const QString node = m_deviceRoot + QLatin1Char('/') + name;
        // Listed by the kernel before udev has made its node: not there yet.
        if (!vendorOk || !productOk || vendor > 0xFFFF || product > 0xFFFF || !QFileInfo::exists(node))
            continue;
        out.append({node, quint16(vendor), quint16(product), DeviceNodeAccess::refusal(node)});
    }
    qCDebug(lcDevice) << "HID devices found:" << out.size();
    return out;
}

bool HidapiBackend::open(const QString &path, HidFeatureReport &feature, QString &error)
{
    close();
    if (!m_initialised) {
        if (hid_init() != 0) {
            error = hidapiError(nullptr);
            return false;
        }
        m_initialised = true;
    }

    QFile descriptorFile(descriptorPath(path));
    if (!descriptorFile.open(QIODevice::ReadOnly)) {
        error = tr("cannot read the report descriptor %1").arg(descriptorFile.fileName());
        return false;
    }
    HidFeatureReport declared;
    if (!HidReportDescriptor::featureReportOf(descriptorFile.readAll(), declared, error))
        return false;

    // hidraw nodes can be opened by any number of programs; an advisory lock
    // keeps a second updater away from a device that is being written.
    const QByteArray nativePath = path.toLocal8Bit();
    m_lockFd = ::open(nativePath.constData(), O_RDWR | O_CLOEXEC);
    if (m_lockFd < 0 || ::flock(m_lockFd, LOCK_EX | LOCK_NB) != 0) {
        error = QString::fromLocal8Bit(std::strerror(errno));
        close();
        return false;
    }
    m_device = hid_open_path(nativePath.constData());
    if (!m_device) {
        error = hidapiError(nullptr);
        close();
        return false;
    }
    feature = declared;
    return true;
}

bool HidapiBackend::sendFeatureReport(const QByteArray &report, QString &error)
{
    if (!m_device) {
        error = tr("no device is open");
        return false;
    }
    const int sent = hid_send_feature_report(
        m_device, reinterpret_cast<const unsigned char *>(report.constData()), size_t(report.size()));
    if (sent < 0) {
        error = hidapiError(m_device);
        return false;
    }
    return true;
}

void HidapiBackend::close()
{
    if (m_device) {
        hid_close(m_device);
        m_device = nullptr;
    }
    if (m_lockFd >= 0) {
        ::close(m_lockFd);
        m_lockFd = -1;
    }
}
