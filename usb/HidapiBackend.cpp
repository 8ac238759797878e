#include "usb/HidapiBackend.h"

#include "base/LogCategories.h"
#include "usb/HidReportDescriptor.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <hidapi/hidapi.h>

#include <algorithm>
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

HidapiBackend::HidapiBackend() = default;

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

QList<HidDeviceInfo> HidapiBackend::devices()
{
    QList<HidDeviceInfo> out;
    if (!m_initialised) {
        if (hid_init() != 0) {
            qCDebug(lcDevice) << "hid_init failed:" << hidapiError(nullptr);
            return out;
        }
        m_initialised = true;
    }
    hid_device_info *list = hid_enumerate(0, 0);
    for (hid_device_info *d = list; d; d = d->next) {
        if (!d->path)
            continue;
        const QString path = QString::fromLocal8Bit(d->path);
        // Listed only when this process may open it, as with an exclusive
        // open; and once, though hidapi may list a node once per usage.
        if (::access(d->path, R_OK | W_OK) != 0
            || std::any_of(out.cbegin(), out.cend(), [&path](const HidDeviceInfo &i) { return i.path == path; }))
            continue;
        out.append({path, d->vendor_id, d->product_id});
    }
    hid_free_enumeration(list);
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

    QFile descriptorFile(descriptorPathFor(path));
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
