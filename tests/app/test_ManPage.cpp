#include "app/CommandLine.h"

#include <QFile>
#include <QRegularExpression>
#include <QTest>

namespace {

// The words of a troff request line, quotes removed: .BI \-a= B -> {"\-a=", "B"}.
QStringList requestArguments(const QString &line)
{
    QStringList out;
    QString word;
    bool quoted = false;
    bool inWord = false;
    for (const QChar c : line) {
        if (c == QLatin1Char('"')) {
            quoted = !quoted;
            inWord = true;
        } else if (c == QLatin1Char(' ') && !quoted) {
            if (inWord)
                out.append(word);
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord)
        out.append(word);
    return out;
}

// A font request's text as it is printed: .BR, .BI and the like set their
// words side by side.
QString printed(const QString &line)
{
    QStringList words = requestArguments(line);
    if (!words.isEmpty() && words.first().startsWith(QLatin1Char('.')))
        words.removeFirst();
    return words.join(QString()).replace(QStringLiteral("\\-"), QStringLiteral("-")).remove(QStringLiteral("\\c"));
}

// The lines of one section (.SH NAME up to the next .SH).
QStringList section(const QStringList &page, const QString &name)
{
    QStringList out;
    bool inside = false;
    for (const QString &line : page) {
        if (line.startsWith(QLatin1String(".SH "))) {
            inside = line.mid(4).trimmed() == name;
            continue;
        }
        if (inside)
            out.append(line);
    }
    return out;
}

// The tag lines of a section's .TP paragraphs, as printed.
QStringList tags(const QStringList &lines)
{
    QStringList out;
    for (int i = 0; i + 1 < lines.size(); ++i) {
        if (lines.at(i) == QLatin1String(".TP"))
            out.append(printed(lines.at(i + 1)));
    }
    return out;
}

} // namespace

// The manual page says what --help says: the same options and exit codes.
class TestManPage : public QObject
{
    Q_OBJECT

private slots:
    void optionsAndExitCodesMatchHelp()
    {
        QFile file(qEnvironmentVariable("ZEL_SOURCE_DIR") + QStringLiteral("/doc/zel-updater.1.in"));
        QVERIFY2(file.open(QIODevice::ReadOnly | QIODevice::Text), qPrintable(file.fileName()));
        const QStringList page = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));

        QStringList helpOptions;
        QStringList helpCodes;
        static const QRegularExpression option(QStringLiteral("^  (-[^\\s,]+(?:, -[^\\s,]+)*)"));
        static const QRegularExpression code(QStringLiteral("^  (\\d)  (.+)$"));
        for (const QString &line : commandLineHelp().split(QLatin1Char('\n'))) {
            if (const auto m = option.match(line); m.hasMatch())
                helpOptions.append(m.captured(1));
            else if (const auto c = code.match(line); c.hasMatch())
                helpCodes.append(c.captured(1) + QLatin1Char(' ') + c.captured(2));
        }
        QVERIFY(helpOptions.size() > 10);
        QCOMPARE(tags(section(page, QStringLiteral("OPTIONS"))), helpOptions);

        const QStringList status = section(page, QStringLiteral("EXIT STATUS"));
        QStringList pageCodes;
        for (int i = 0; i + 2 < status.size(); ++i) {
            if (status.at(i) == QLatin1String(".TP"))
                pageCodes.append(printed(status.at(i + 1)) + QLatin1Char(' ') + status.at(i + 2));
        }
        QCOMPARE(pageCodes, helpCodes);

        // The synopsis shows every option too.
        const QString synopsis = printed(section(page, QStringLiteral("SYNOPSIS")).join(QLatin1Char(' ')));
        for (const QString &entry : helpOptions) {
            for (const QString &one : entry.split(QStringLiteral(", "))) {
                const QString name = one.section(QLatin1Char('='), 0, 0);
                QVERIFY2(synopsis.contains(name), qPrintable(name + QStringLiteral(" not in SYNOPSIS")));
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestManPage)
#include "test_ManPage.moc"
