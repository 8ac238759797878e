#include "usb/DeviceNodeAccess.h"

#include <QCoreApplication>

#include <cerrno>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("DeviceNodeAccess", text);
}

bool refused(const QByteArray &node, int mode)
{
    return ::access(node.constData(), mode) != 0 && (errno == EACCES || errno == EPERM);
}

// As ls -l shows it: type, then read, write and execute for owner, group, others.
QString modeText(mode_t mode)
{
    QString text;
    text += S_ISCHR(mode) ? QLatin1Char('c') : S_ISBLK(mode) ? QLatin1Char('b')
                          : S_ISDIR(mode) ? QLatin1Char('d') : QLatin1Char('-');
    const mode_t bits[] = {S_IRUSR, S_IWUSR, S_IXUSR, S_IRGRP, S_IWGRP, S_IXGRP, S_IROTH, S_IWOTH, S_IXOTH};
    const char letters[] = "rwxrwxrwx";
    for (int i = 0; i < 9; ++i)
        text += (mode & bits[i]) ? QLatin1Char(letters[i]) : QLatin1Char('-');
    return text;
}

QString ownerName(uid_t uid)
{
    const passwd *entry = ::getpwuid(uid);
    return entry ? QString::fromLocal8Bit(entry->pw_name) : QString::number(uid);
}

QString groupName(gid_t gid)
{
    const group *entry = ::getgrgid(gid);
    return entry ? QString::fromLocal8Bit(entry->gr_name) : QString::number(gid);
}

} // namespace

QString DeviceNodeAccess::refusal(const QString &node)
{
    const QByteArray path = node.toLocal8Bit();
    const bool noRead = refused(path, R_OK);
    const bool noWrite = refused(path, W_OK);
    if (!noRead && !noWrite)
        return QString();
    const QString what = noRead && noWrite ? tr("read and write access refused")
        : noRead                           ? tr("read access refused")
                                           : tr("write access refused");
    struct stat status {};
    if (::stat(path.constData(), &status) != 0)
        return what;
    return tr("%1 (owner %2, group %3, mode %4)")
        .arg(what, ownerName(status.st_uid), groupName(status.st_gid), modeText(status.st_mode));
}

QString DeviceNodeAccess::advice()
{
    return tr("install the package's udev rules, or add your user to dialout, then plug the player in again");
}
