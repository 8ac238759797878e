#include "app/UnattendedResult.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>

#include <unistd.h>

QString UnattendedResult::allowingOption() const
{
    if (!refusedQuestion)
        return QString();
    QStringList words;
    for (GuardingQuestion question : allowedQuestions)
        words.append(guardingQuestionName(question));
    words.append(guardingQuestionName(*refusedQuestion));
    return QStringLiteral("-yes=") + words.join(QLatin1Char(','));
}

QJsonObject UnattendedResult::toJson() const
{
    QJsonObject object = record ? record->toJson() : QJsonObject();
    if (!record) {
        object.insert(QStringLiteral("outcome"), QJsonValue::Null);
        // A run that ended before any device's record still says what it was
        // about; what it did not know stays null.
        const QJsonObject fields = known ? known->toJson() : UpdateRecord().toJson();
        for (const char *key : {"interface", "deviceType", "address", "imageFile", "imageSha256",
                                "imageVersion", "signature", "signedBy", "trustedComment"}) {
            const QString name = QLatin1String(key);
            QJsonValue value = fields.value(name);
            if (value.isUndefined())
                continue;
            if (value.isString() && value.toString().isEmpty())
                value = QJsonValue::Null;
            object.insert(name, value);
        }
    }
    if (devices.size() > 1) {
        QJsonArray each;
        for (const UpdateRecord &device : devices)
            each.append(device.toJson());
        object.insert(QStringLiteral("devices"), each);
    }
    if (record || !devices.isEmpty()) {
        object.insert(QStringLiteral("recordWritten"), recordErrors.isEmpty());
        if (!recordErrors.isEmpty())
            object.insert(QStringLiteral("recordError"), recordErrors.join(QStringLiteral("; ")));
    }
    object.insert(QStringLiteral("exitCode"), static_cast<int>(exitCode));
    object.insert(QStringLiteral("meaning"), exitCodeMeaning(exitCode));
    object.insert(QStringLiteral("message"), message);
    if (refusedQuestion) {
        object.insert(QStringLiteral("refusedQuestion"), guardingQuestionName(*refusedQuestion));
        object.insert(QStringLiteral("allowWith"), allowingOption());
    }
    return object;
}

bool UnattendedResult::write(const QString &path, QString *error) const
{
    QSaveFile file(path);
    bool ok = file.open(QIODevice::WriteOnly)
        && file.write(QJsonDocument(toJson()).toJson(QJsonDocument::Indented)) >= 0
        && file.flush() && ::fsync(file.handle()) == 0;
    ok = ok && file.commit();
    if (!ok) {
        if (error)
            *error = file.errorString();
        file.cancelWriting();
    }
    return ok;
}

bool UnattendedResult::canWrite(const QString &path, QString *error)
{
    // The same way write() goes, without committing: the temporary file
    // beside the target needs the folder, and the target must be replaceable.
    QSaveFile file(path);
    const bool ok = file.open(QIODevice::WriteOnly);
    if (!ok && error)
        *error = file.errorString();
    file.cancelWriting();
    return ok;
}
