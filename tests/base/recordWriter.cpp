// Stands in for an updater that ends runs one after another: appends COUNT
// records, numbered from FIRST in their address field, to the update record
// in FOLDER and acknowledges each on stdout once append has returned. With
// "wait" it then idles until it is killed.
#include "base/UpdateRecordFile.h"

#include <QCoreApplication>

#include <cstdio>
#include <unistd.h>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 4)
        return 2;
    const UpdateRecordFile file(args.at(1));
    const int first = args.at(2).toInt();
    const int count = args.at(3).toInt();
    for (int n = first; n < first + count; ++n) {
        UpdateRecord record;
        record.time = QDateTime::currentDateTime();
        record.interfaceNumber = n % 3;
        record.deviceType = QStringLiteral("Marlow White");
        record.address = QString::number(n);
        record.imageFile = QStringLiteral("/srv/images/marlow.hex");
        record.outcome = UpdateRecord::Outcome::Verified;
        QString error;
        if (!file.append(record, &error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
        std::printf("%d\n", n);
        std::fflush(stdout);
    }
    if (args.size() > 4 && args.at(4) == QLatin1String("wait")) {
        for (;;)
            ::pause();
    }
    return 0;
}
